// The window's first-run size: larger than the form where the screen
// allows, the tree as narrow as its texts, and on every list page the
// specified and added columns within the view without scrolling.
#include <QHeaderView>
#include <QScreen>
#include <QSettings>
#include <QSplitter>
#include <QStackedWidget>
#include <QTreeWidget>
#include <QtTest>

#include "app/fntp.h"
#include "tests/common/testhelpers.h"

using TestHelpers::ConfFile;

namespace
{
// The first-run size where the screen has room for it (the offscreen
// screen of the tests has not; a window may still be that large): in
// characters of the window's font, as the window counts it.
QSize roomyFirstRun(const QWidget& window)
{
    const QFontMetrics metrics = window.fontMetrics();
    return QSize(224 * metrics.averageCharWidth(), 40 * metrics.lineSpacing());
}

// Lines that fill each list page's columns with texts of a usual length.
const QByteArray typicalFile =
    "pool 0.debian.pool.ntp.org iburst\n"
    "server -4 time.example.org iburst prefer minpoll 4 maxpoll 10 version 4\n"
    "broadcast 192.168.1.255 minpoll 6 version 4 ttl 4\n"
    "broadcastclient\n"
    "restrict -4 default kod notrap nomodify nopeer noquery limited\n"
    "restrict 192.168.1.0 mask 255.255.255.0 nomodify notrap\n"
    "server 127.127.28.0 minpoll 4 maxpoll 4 prefer\n"
    "fudge 127.127.28.0 refid GPS time1 0.5 flag1 1\n";

struct ListPageOf {
    const char* title;
    const char* list;
};
const ListPageOf listPages[] = {{"Sync", "twServers"},
                                {"Broadcast", "twList"},
                                {"Access", "twList"},
                                {"Hardware clock", "twList"}};

// The list of the page now shown in the window's page stack.
QTreeWidget* shownList(FNTP& window, const char* name)
{
    auto* stack = window.findChild<QStackedWidget*>(QStringLiteral("swList"));
    return stack && stack->currentWidget()
               ? stack->currentWidget()->findChild<QTreeWidget*>(QLatin1String(name))
               : nullptr;
}
} // namespace

class TestFirstRunSize : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        QCoreApplication::setOrganizationName(QStringLiteral("ntpsm-tests"));
        QCoreApplication::setApplicationName(QStringLiteral("tst_firstrunsize"));
    }
    void init() { QSettings().clear(); }
    void cleanup() { QCOMPARE(TestHelpers::rejectOpenModals(), 0); }

    void largerThanTheFormWhereTheScreenAllows();
    void columnsWithinTheView_data();
    void columnsWithinTheView();
};

void TestFirstRunSize::largerThanTheFormWhereTheScreenAllows()
{
    ConfFile conf(typicalFile);
    FNTP window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const QSize available = window.screen()->availableGeometry().size();
    QVERIFY(window.width() >= 436 && window.height() >= 270);
    QVERIFY(window.width() <= available.width() && window.height() <= available.height());
    if (available.width() > 640)
        QVERIFY(window.width() > 517);
    // The tree is as narrow as its texts; the pages get the rest.
    auto* splitter = window.findChild<QSplitter*>(QStringLiteral("splitter"));
    const QList<int> sizes = splitter->sizes();
    QCOMPARE(sizes.size(), 2);
    QVERIFY2(sizes.at(0) * 2 < sizes.at(1),
             qPrintable(QStringLiteral("%1 | %2").arg(sizes.at(0)).arg(sizes.at(1))));
    auto* tree = window.findChild<QTreeWidget*>(QStringLiteral("twList"));
    tree->resizeColumnToContents(0);
    QVERIFY(sizes.at(0) >= tree->columnWidth(0));
}

void TestFirstRunSize::columnsWithinTheView_data()
{
    QTest::addColumn<int>("page");
    for (int i = 0; i < int(sizeof listPages / sizeof *listPages); ++i)
        QTest::newRow(listPages[i].title) << i;
}

void TestFirstRunSize::columnsWithinTheView()
{
    QFETCH(int, page);
    ConfFile conf(typicalFile);
    FNTP window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    window.resize(roomyFirstRun(window));
    TestHelpers::openPage(&window, QLatin1String(listPages[page].title));
    QTreeWidget* list = shownList(window, listPages[page].list);
    QVERIFY(list);
    QVERIFY(list->topLevelItemCount() > 0);
    QCoreApplication::processEvents();
    const int viewWidth = list->viewport()->width();
    const QHeaderView* header = list->header();
    // Every column but the last (the line as written, as long as its line)
    // ends within the view; the last one starts there.
    const int last = list->columnCount() - 1;
    for (int column = 0; column < last; ++column) {
        const int end = header->sectionViewportPosition(column) + header->sectionSize(column);
        QVERIFY2(end <= viewWidth, qPrintable(QStringLiteral("column %1 (%2) ends at %3 of %4")
                                                  .arg(column)
                                                  .arg(list->headerItem()->text(column))
                                                  .arg(end)
                                                  .arg(viewWidth)));
    }
    QVERIFY(header->sectionViewportPosition(last) < viewWidth);
}

QTEST_MAIN(TestFirstRunSize)
#include "tst_firstrunsize.moc"
