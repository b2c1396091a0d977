#include "testhelpers.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>

#include "ntpconfpath.h"

namespace TestHelpers
{

void onNextModal(std::function<void(QWidget*)> answer, int timeoutMs)
{
    auto* timer = new QTimer;
    auto* clock = new QElapsedTimer;
    clock->start();
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, clock, answer, timeoutMs] {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal && modal->isVisible()) {
            timer->stop();
            answer(modal);
        } else if (clock->elapsed() > timeoutMs) {
            timer->stop();
        } else {
            return;
        }
        timer->deleteLater();
        delete clock;
    });
    timer->start();
}

static void record(QMessageBox* box, BoxSeen* seen)
{
    if (!seen)
        return;
    seen->shown = true;
    seen->title = box->windowTitle();
    seen->text = box->text();
    seen->icon = box->icon();
    seen->parent = box->parentWidget();
}

void answerNextBox(QMessageBox::StandardButton button, BoxSeen* seen)
{
    onNextModal([button, seen](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (!box) {
            qWarning("expected a message box, found %s", modal->metaObject()->className());
            if (auto* dialog = qobject_cast<QDialog*>(modal))
                dialog->reject();
            return;
        }
        record(box, seen);
        if (QAbstractButton* b = box->button(button))
            b->click();
        else
            box->reject();
    });
}

void answerNextBoxWith(const QString& buttonNameOrText, BoxSeen* seen)
{
    onNextModal([buttonNameOrText, seen](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (!box) {
            if (auto* dialog = qobject_cast<QDialog*>(modal))
                dialog->reject();
            return;
        }
        record(box, seen);
        for (QAbstractButton* b : box->buttons()) {
            if (b->objectName() == buttonNameOrText || b->text() == buttonNameOrText) {
                b->click();
                return;
            }
        }
        box->reject();
    });
}

int rejectOpenModals()
{
    int count = 0;
    while (QWidget* modal = QApplication::activeModalWidget()) {
        auto* dialog = qobject_cast<QDialog*>(modal);
        if (!dialog)
            break;
        dialog->reject();
        QApplication::processEvents();
        ++count;
        if (count > 20)
            break;
    }
    return count;
}

bool noStrayWindows()
{
    QApplication::processEvents();
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->isVisible() && qobject_cast<QDialog*>(widget))
            return false;
    }
    return true;
}

QStringList linesOf(const QByteArray& text, const QString& key)
{
    QStringList result;
    for (const QString& line : QString::fromUtf8(text).split(QLatin1Char('\n'))) {
        if (line.section(QLatin1Char(' '), 0, 0) == key)
            result.append(line);
    }
    return result;
}

ConfFile::ConfFile(const QByteArray& content)
{
    write(content);
    setNtpConfPathForTesting(path());
}

// Never fall back to the real file: later page loads find nothing at all.
ConfFile::~ConfFile()
{
    setNtpConfPathForTesting(QStringLiteral("/nonexistent/ntp-service-manager-test/ntp.conf"));
}

QString ConfFile::path() const
{
    return m_dir.filePath(QStringLiteral("ntp.conf"));
}

QByteArray ConfFile::read() const
{
    return readFile(path());
}

void ConfFile::write(const QByteArray& content) const
{
    writeFile(path(), content);
}

QString ntpqFixturePath(const char* name)
{
    return qEnvironmentVariable("NTPSM_SOURCE_DIR") + QStringLiteral("/tests/config/data/ntpq/") +
           QLatin1String(name);
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           file.write(content) == content.size();
}

} // namespace TestHelpers
