#include "remote/secret.h"

#include <QString>

#include <cstring>

void wipe(QByteArray* bytes)
{
    if (!bytes->isDetached()) {
        // Another copy holds the same buffer: writing would detach and
        // wipe only a fresh copy.
        bytes->clear();
        return;
    }
    if (!bytes->isEmpty())
        ::explicit_bzero(bytes->data(), size_t(bytes->size()));
    bytes->clear();
}

void SecretBytes::assign(const char* data, int size)
{
    clear();
    m_bytes = QByteArray(data, size); // a buffer of its own, never shared
}

void SecretBytes::takeText(QString* text)
{
    QByteArray utf8 = text->toUtf8();
    assign(utf8.constData(), utf8.size());
    wipe(&utf8);
    if (!text->isEmpty() && text->isDetached())
        ::explicit_bzero(text->data(), size_t(text->size()) * sizeof(QChar));
    text->clear();
}

void SecretBytes::clear()
{
    wipe(&m_bytes);
}
