#pragma once

#include "remote/prompter.h"

#include <QString>

class QWidget;
class SshHost;
struct WindowHooks;

// ssh's questions and sudo's password asked in dialogs over `parent` (none
// before the window exists).
class DialogPrompter : public Prompter
{
public:
    explicit DialogPrompter(QWidget* parent = nullptr) : m_parent(parent) {}
    void setParent(QWidget* parent) { m_parent = parent; }

    bool askSecret(const QString& host, const QString& prompt, SecretBytes* answer) override;
    bool askQuestion(const QString& host, const QString& question) override;
    bool askText(const QString& host, const QString& prompt, QString* answer) override;

private:
    QWidget* m_parent;
};

// "NTP service manager — timeserver.lan": the window's title with the host
// it manages; the bare title for this machine.
QString windowTitleFor(const QString& title, const QString& host);

// The window's parts for other machines: "Connect to host..." in the File
// menu (a window of its own per host, in a new process of this program)
// and, when the window manages another machine, its name in the title and
// the status bar.
void installRemoteHost(const WindowHooks& hooks);

// Opens the program for `host` in a process of its own; false when it
// could not be started.
bool openWindowForHost(const QString& host);

// The window's answer to a lost connection: it says so and offers to
// connect again; the edits stay in the window meanwhile.
void watchConnection(QWidget* window, SshHost* host);
