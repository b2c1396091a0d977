#pragma once

struct WindowHooks;

// What the window shows about the daemon it manages: the notice above the
// pages, the status bar's part, and the "Daemon status" action (Server menu
// and service tool bar) with its window, all fed by one poller of the
// daemon.
void installDaemonStatus(const WindowHooks& hooks);
