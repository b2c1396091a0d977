#include "tests/host/hostcontract.h"

#include <QTest>

// The local host through the real system calls: the host contract.
class TestLocalHost : public HostContract
{
    Q_OBJECT
protected:
    Host& host() override { return localHost(); }
};

QTEST_GUILESS_MAIN(TestLocalHost)
#include "tst_localhost.moc"
