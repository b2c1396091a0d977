#pragma once

#include <QString>

#include "remote/sshhost.h"

#include <sys/types.h>

class QtSingleApplication;

// Detects the installed daemon, makes it the current one and points the
// configuration document at the file to edit (`commandLineFile` when given).
void applyDaemonSetup(const QString& commandLineFile);

// The program's start-up after the application object exists: hands over to
// a running instance, refuses anybody but root (by real user id), finds the
// installed daemon and the file to edit (`configFile` when given), then runs
// the main window. Returns the process's exit code.
// With `remote.destination`, the window manages that server over SSH: it
// connects first (root there, not here) and every file and command of the
// window goes to the server.
int runNtpServiceManager(QtSingleApplication& app, uid_t realUserId,
                         const QString& configFile = QString(),
                         const SshHost::Settings& remote = SshHost::Settings());
