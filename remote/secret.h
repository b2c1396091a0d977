#pragma once

#include <QByteArray>

// Bytes that must not outlive their use: a password or passphrase. Never
// copied implicitly; overwritten with zeros when cleared or destroyed.
// (Qt's own buffers a secret passed through, a QLocalSocket's or a
// QProcess's, are out of reach; they hold it only briefly.)
class SecretBytes
{
public:
    SecretBytes() = default;
    explicit SecretBytes(const QByteArray& bytes) { assign(bytes.constData(), bytes.size()); }
    ~SecretBytes() { clear(); }
    SecretBytes(const SecretBytes&) = delete;
    SecretBytes& operator=(const SecretBytes&) = delete;
    SecretBytes(SecretBytes&& other) noexcept { swap(other); }
    SecretBytes& operator=(SecretBytes&& other) noexcept
    {
        clear();
        swap(other);
        return *this;
    }

    void assign(const char* data, int size);
    // Takes the bytes of `text` (its UTF-8) and wipes `text`.
    void takeText(QString* text);
    void clear();
    void swap(SecretBytes& other) noexcept { m_bytes.swap(other.m_bytes); }

    const QByteArray& bytes() const { return m_bytes; }
    bool isEmpty() const { return m_bytes.isEmpty(); }

private:
    QByteArray m_bytes;
};

// Overwrites the bytes with zeros (when no other copy shares them) and
// empties the array.
void wipe(QByteArray* bytes);
