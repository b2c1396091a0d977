#include "app/remotewindow.h"

#include <QAbstractButton>
#include <QAction>
#include <QCoreApplication>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QStatusBar>
#include <QTimer>

#include "app/hooks/windowhooks.h"
#include "app/review/applyflow.h"
#include "host/host.h"
#include "remote/secret.h"
#include "remote/sshhost.h"

namespace
{
QString tr(const char* text)
{
    return QCoreApplication::translate("RemoteWindow", text);
}

// ssh's prompts end with ": " or a line break; the dialog has its own.
QString trimmedPrompt(const QString& prompt)
{
    QString text = prompt.trimmed();
    if (text.endsWith(QLatin1Char(':')))
        text.chop(1);
    return text;
}

void askForHost(QWidget* parent)
{
    bool given = false;
    const QString host =
        QInputDialog::getText(parent, tr("Connect to host"),
                              tr("Host ([user@]host, or a Host of ~/.ssh/config):"),
                              QLineEdit::Normal, QString(), &given)
            .trimmed();
    if (!given)
        return;
    const QString problem = SshHost::destinationProblem(host);
    if (!problem.isEmpty()) {
        QMessageBox::warning(parent, tr("Connect to host"), problem);
        return;
    }
    if (!openWindowForHost(host))
        QMessageBox::warning(parent, tr("Connect to host"),
                             tr("The program could not be started for %1.").arg(host));
}

void offerReconnect(const QPointer<QWidget>& window, SshHost* host)
{
    if (!window)
        return;
    QMessageBox box(QMessageBox::Warning, tr("Connection lost"),
                    host->lastConnectionError() + QLatin1Char('\n') +
                        tr("Nothing is read from or written to %1 until it is connected again; "
                           "unapplied edits stay in the window.")
                            .arg(host->name()),
                    QMessageBox::Retry | QMessageBox::Close, window);
    box.button(QMessageBox::Retry)->setText(tr("Reconnect"));
    if (box.exec() != QMessageBox::Retry)
        return;
    if (host->connectToHost() != 0)
        QTimer::singleShot(0, window, [window, host] { offerReconnect(window, host); });
    else
        tellLostWrite(window);
}
} // namespace

bool DialogPrompter::askSecret(const QString& host, const QString& prompt, SecretBytes* answer)
{
    bool given = false;
    QString text = QInputDialog::getText(m_parent, tr("Password for %1").arg(host),
                                         trimmedPrompt(prompt) + QLatin1Char(':'),
                                         QLineEdit::Password, QString(), &given);
    answer->takeText(&text);
    return given;
}

bool DialogPrompter::askQuestion(const QString& host, const QString& question)
{
    return QMessageBox::question(m_parent, tr("Connecting to %1").arg(host), question.trimmed(),
                                 QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
}

bool DialogPrompter::askText(const QString& host, const QString& prompt, QString* answer)
{
    bool given = false;
    *answer = QInputDialog::getText(m_parent, tr("Connecting to %1").arg(host),
                                    trimmedPrompt(prompt) + QLatin1Char(':'), QLineEdit::Normal,
                                    QString(), &given);
    return given;
}

QString windowTitleFor(const QString& title, const QString& host)
{
    return host.isEmpty() ? title : title + QStringLiteral(" \u2014 ") + host;
}

void installRemoteHost(const WindowHooks& hooks)
{
    auto* connect = new QAction(tr("Connect to host..."), hooks.window);
    connect->setObjectName(QStringLiteral("connectToHostAction"));
    QObject::connect(connect, &QAction::triggered, hooks.window,
                     [window = hooks.window] { askForHost(window); });
    hooks.addToFileMenu(connect);
    const QString host = Host::current().name();
    if (host.isEmpty())
        return;
    hooks.window->setWindowTitle(windowTitleFor(hooks.window->windowTitle(), host));
    auto* label = new QLabel(tr("Host: %1").arg(host));
    label->setObjectName(QStringLiteral("hostLabel"));
    hooks.statusBar->addPermanentWidget(label);
}

bool openWindowForHost(const QString& host)
{
    return QProcess::startDetached(QCoreApplication::applicationFilePath(),
                                   {QStringLiteral("--host"), host});
}

void watchConnection(QWidget* window, SshHost* host)
{
    QPointer<QWidget> guarded(window);
    // Told from the host's own signal: the box comes from the event loop.
    host->setConnectionLostHandler([guarded, host] {
        QTimer::singleShot(0, guarded, [guarded, host] { offerReconnect(guarded, host); });
    });
}
