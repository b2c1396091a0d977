#pragma once

#include <sys/types.h>

class QtSingleApplication;

// The program's start-up after the application object exists: hands over to
// a running instance, refuses anybody but root (by real user id), then runs
// the main window. Returns the process's exit code.
int runNtpServiceManager(QtSingleApplication& app, uid_t realUserId);
