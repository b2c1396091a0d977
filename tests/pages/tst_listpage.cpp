// What every list page shares: the buttons, double click, Return, Enter and
// Delete on the list, and its context menu, on each of the four list pages.
#include <QPushButton>
#include <QSignalSpy>
#include <QTreeWidget>
#include <QtTest>
#include <memory>

#include "pages/fbroadcast.h"
#include "pages/foptaccess.h"
#include "pages/fopthwclock.h"
#include "pages/foptsync.h"
#include "tests/common/testhelpers.h"

using namespace TestHelpers;

namespace
{
enum class Page { Sync, Broadcast, Access, HardwareClock };

std::unique_ptr<ListPage> createPage(Page page)
{
    switch (page) {
    case Page::Sync:
        return std::make_unique<FOptSync>();
    case Page::Broadcast:
        return std::make_unique<FBroadcast>();
    case Page::Access:
        return std::make_unique<FOptAccess>();
    case Page::HardwareClock:
        return std::make_unique<FOptHWClock>();
    }
    return nullptr;
}

// The class of the modal widget that `action` opens; it is rejected.
QString dialogOpenedBy(const std::function<void()>& action)
{
    QString opened;
    onNextModal([&opened](QWidget* modal) {
        opened = QString::fromLatin1(modal->metaObject()->className());
        qobject_cast<QDialog*>(modal)->reject();
    });
    action();
    return opened;
}

QPushButton* button(ListPage& page, const char* name)
{
    return page.findChild<QPushButton*>(QLatin1String(name));
}
} // namespace

Q_DECLARE_METATYPE(Page)

class TestListPage : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup() { QCOMPARE(rejectOpenModals(), 0); }
    void buttonsFollowTheCurrentRow_data() { pages(); }
    void buttonsFollowTheCurrentRow();
    void keysAndDoubleClickReachTheRow_data() { pages(); }
    void keysAndDoubleClickReachTheRow();
    void contextMenuOffersTheOperations_data() { pages(); }
    void contextMenuOffersTheOperations();

private:
    void pages();
    // The page of the current data row on its two-row file.
    void openPage();

    std::unique_ptr<ConfFile> m_file;
    std::unique_ptr<ListPage> m_page;
    QTreeWidget* m_list = nullptr;
};

void TestListPage::pages()
{
    QTest::addColumn<Page>("page");
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("row");      // a row's first column
    QTest::addColumn<QString>("dialog");   // the add/edit dialog's class
    QTest::addColumn<QString>("question"); // the text asking before deleting
    QTest::newRow("Sync") << Page::Sync << QByteArray("server a.example\nserver b.example\n")
                          << "b.example"
                          << "FOptSync_Add"
                          << "Delete server from list?";
    QTest::newRow("Broadcast") << Page::Broadcast
                               << QByteArray("broadcastclient\nbroadcast 192.168.1.255\n"
                                             "broadcast 10.255.255.255\n")
                               << "10.255.255.255"
                               << "FBroadcast_Add"
                               << "Delete network?";
    QTest::newRow("Access") << Page::Access
                            << QByteArray("restrict 10.0.0.0 mask 255.0.0.0 notrap\n"
                                          "restrict 10.1.0.0 mask 255.255.0.0\n")
                            << "10.1.0.0"
                            << "FOptAccess_Add"
                            << "Delete network?";
    QTest::newRow("Hardware clock")
        << Page::HardwareClock << QByteArray("server 127.127.1.0\nserver 127.127.20.0\n")
        << "Generic NMEA GPS Receiver (NMEA)"
        << "FOptHWClock_Add"
        << "Delete device?";
}

void TestListPage::init()
{
    m_page.reset();
    m_file.reset();
}

void TestListPage::openPage()
{
    QFETCH(Page, page);
    QFETCH(QByteArray, file);
    m_file = std::make_unique<ConfFile>(file);
    m_page = createPage(page);
    m_list = m_page->findChild<QTreeWidget*>();
    QVERIFY(m_list);
    QCOMPARE(m_list->topLevelItemCount(), 2);
    m_list->setCurrentItem(nullptr);
}

void TestListPage::buttonsFollowTheCurrentRow()
{
    QFETCH(QString, row);
    QFETCH(QString, dialog);
    QFETCH(QString, question);
    openPage();
    QSignalSpy changed(m_page.get(), &ModifiableWidget::dataChanged);
    QVERIFY(button(*m_page, "bAdd")->isEnabled());
    QVERIFY(!button(*m_page, "bEdit")->isEnabled());
    QVERIFY(!button(*m_page, "bDelete")->isEnabled());

    selectRow(m_list, row);
    QVERIFY(button(*m_page, "bEdit")->isEnabled());
    QVERIFY(button(*m_page, "bDelete")->isEnabled());
    QCOMPARE(dialogOpenedBy([this] { button(*m_page, "bAdd")->click(); }), dialog);
    QCOMPARE(dialogOpenedBy([this] { button(*m_page, "bEdit")->click(); }), dialog);

    BoxSeen box;
    answerNextBox(QMessageBox::Ok, &box);
    button(*m_page, "bDelete")->click();
    QCOMPARE(box.title, QStringLiteral("NTP admin"));
    QCOMPARE(box.text, question);
    QCOMPARE(box.parent, m_page.get());
    QCOMPARE(m_list->topLevelItemCount(), 1);
    QCOMPARE(changed.count(), 1);

    m_list->setCurrentItem(nullptr);
    QVERIFY(!button(*m_page, "bEdit")->isEnabled());
    QVERIFY(!button(*m_page, "bDelete")->isEnabled());
}

void TestListPage::keysAndDoubleClickReachTheRow()
{
    QFETCH(QString, row);
    QFETCH(QString, dialog);
    QFETCH(QString, question);
    openPage();
    m_page->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_page.get()));
    QSignalSpy changed(m_page.get(), &ModifiableWidget::dataChanged);
    QSignalSpy activated(m_list, &QTreeWidget::activated);

    // Without a current row the keys do nothing.
    QCOMPARE(rejectModalsDuring([this] {
                 sendKey(m_list, Qt::Key_Return);
                 sendKey(m_list, Qt::Key_Delete);
             }),
             0);

    selectRow(m_list, row);
    QTreeWidgetItem* current = m_list->currentItem();
    QCOMPARE(dialogOpenedBy([this] { sendKey(m_list, Qt::Key_Return); }), dialog);
    QCOMPARE(activated.count(), 1); // the list got the key too
    QCOMPARE(dialogOpenedBy([this] { sendKey(m_list, Qt::Key_Enter); }), dialog);

    // A double click edits the row under the mouse.
    m_list->setCurrentItem(nullptr);
    const QPoint inside(20, m_list->visualItemRect(current).center().y());
    QCOMPARE(dialogOpenedBy([&] {
                 // The view takes a double click only after a press on the row.
                 QTest::mouseClick(m_list->viewport(), Qt::LeftButton, {}, inside);
                 QTest::mouseDClick(m_list->viewport(), Qt::LeftButton, {}, inside);
             }),
             dialog);
    QCOMPARE(m_list->currentItem(), current);
    QCOMPARE(changed.count(), 0);

    BoxSeen box;
    answerNextBox(QMessageBox::Cancel, &box);
    sendKey(m_list, Qt::Key_Delete);
    QCOMPARE(box.text, question);
    QCOMPARE(m_list->topLevelItemCount(), 2);
    QCOMPARE(changed.count(), 0);
}

void TestListPage::contextMenuOffersTheOperations()
{
    QFETCH(QString, row);
    QFETCH(QString, dialog);
    QFETCH(QString, question);
    openPage();
    m_page->show();
    QSignalSpy changed(m_page.get(), &ModifiableWidget::dataChanged);

    // A right click reaches the list through its viewport.
    QCOMPARE(runContextMenu(m_list->viewport()), QStringList({"Add...+", "Edit...-", "Delete-"}));
    selectRow(m_list, row);
    QCOMPARE(runContextMenu(m_list), QStringList({"Add...+", "Edit...+", "Delete+"}));

    QString opened;
    onNextModal([&opened](QWidget* modal) {
        opened = QString::fromLatin1(modal->metaObject()->className());
        qobject_cast<QDialog*>(modal)->reject();
    });
    runContextMenu(m_list, QStringLiteral("aAdd"));
    QCOMPARE(opened, dialog);

    BoxSeen box;
    answerNextBox(QMessageBox::Ok, &box);
    runContextMenu(m_list->viewport(), QStringLiteral("aDelete"));
    QCOMPARE(box.text, question);
    QCOMPARE(m_list->topLevelItemCount(), 1);
    QVERIFY(m_list->findItems(row, Qt::MatchExactly).isEmpty());
    QCOMPARE(changed.count(), 1);
}

QTEST_MAIN(TestListPage)
#include "tst_listpage.moc"
