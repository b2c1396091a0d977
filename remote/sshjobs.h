#pragma once

#include "host/processrunner.h"

#include <memory>

class SshChannel;

// Programs on the server, reported like ProcessRunner's: each one ssh
// command over the master connection, as root or as the login user. They
// hold the channel, so they may outlive their host.
ProcessJob* startSshJob(const std::shared_ptr<SshChannel>& channel, const QString& program,
                        const QStringList& arguments, const ProcessOptions& options, bool asRoot);
ProcessSession* startSshSession(const std::shared_ptr<SshChannel>& channel, const QString& program,
                                const QStringList& arguments, bool asRoot);
