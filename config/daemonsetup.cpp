#include "daemonsetup.h"

namespace
{
DaemonSetup& current()
{
    static DaemonSetup setup;
    return setup;
}
} // namespace

const DaemonSetup& currentDaemon()
{
    return current();
}

void setCurrentDaemon(const DaemonSetup& setup)
{
    current() = setup;
}
