#include <unistd.h>

#include "qtsingleapplication.h"
#include "startup.h"

int main(int argc, char** argv)
{
    QtSingleApplication app(argc, argv, true);
    return runNtpServiceManager(app, getuid());
}
