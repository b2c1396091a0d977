#pragma once

#include <QString>

class SecretBytes;

// What an SshHost asks its user while it connects: ssh's own questions (a
// password, a key's passphrase, an unknown host key) and the password for
// sudo on the server. The window answers with dialogs; tests in code.
// Called on the thread that calls SshHost::connectToHost(), from its event
// loop; the answer may take as long as the user needs.
class Prompter
{
public:
    virtual ~Prompter() = default;

    // A password or passphrase, shown masked. False: the user cancelled.
    virtual bool askSecret(const QString& host, const QString& prompt, SecretBytes* answer) = 0;
    // A yes/no question (ssh's "Are you sure you want to continue
    // connecting (yes/no/[fingerprint])?" with the key's fingerprint
    // before it). True: yes.
    virtual bool askQuestion(const QString& host, const QString& question) = 0;
    // Any other text ssh asks for. False: the user cancelled.
    virtual bool askText(const QString& host, const QString& prompt, QString* answer) = 0;
};
