// The main window: navigation, the edit cycle and the window settings.
#include <QAction>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QSettings>
#include <QSplitter>
#include <QStackedWidget>
#include <QStandardPaths>
#include <QTest>
#include <QToolBar>
#include <QTreeWidget>

#include "app/fntp.h"
#include "config/configdocument.h"
#include "pages/foptaccess.h"
#include "pages/foptsync.h"
#include "pages/listitemwidget.h"
#include "pages/modifiablewidget.h"
#include "tests/common/standinjudge.h"
#include "tests/common/testhelpers.h"

using namespace TestHelpers;

namespace
{

// A page that records what the window asks of it: a save only previewed
// (what Apply would write, for the check) is a "preview".
class RecordingPage : public ModifiableWidget
{
public:
    using ModifiableWidget::ModifiableWidget;
    QStringList calls;
    bool emitOnLoad = false;
    void loadSettings() override
    {
        calls << QStringLiteral("load");
        if (emitOnLoad)
            change();
    }
    void saveSettings() override
    {
        calls << (ConfigDocument::instance().capturing() ? QStringLiteral("preview")
                                                         : QStringLiteral("save"));
    }
    void change() { emit dataChanged(this); }
};

QAction* action(const FNTP& window, const char* name)
{
    auto* found = window.findChild<QAction*>(QLatin1String(name));
    Q_ASSERT(found);
    return found;
}

const char* const kLockedActions[] = {"aStart",         "aStop",
                                      "aRestart",       "aReload",
                                      "editConfig",     "refleshWidgetAction",
                                      "moveBackAction", "moveForwardAction",
                                      "moveUpAction",   "moveDownAction"};

} // namespace

class TestFntp : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QStandardPaths::setTestModeEnabled(true);
        QCoreApplication::setOrganizationName(QStringLiteral("ntpsm-tests"));
        QCoreApplication::setApplicationName(QStringLiteral("tst_fntp"));
    }
    void init()
    {
        QSettings().clear();
        m_conf.reset(new ConfFile("server 192.0.2.1 iburst\n"));
    }
    void cleanup()
    {
        QCOMPARE(rejectOpenModals(), 0);
        QVERIFY(noStrayWindows());
        m_conf.reset();
    }

    void formAndTree()
    {
        FNTP window;
        QCOMPARE(window.windowTitle(), QStringLiteral("NTP service manager"));
        auto* tree = window.findChild<QTreeWidget*>(QStringLiteral("twList"));
        auto* stack = window.findChild<QStackedWidget*>(QStringLiteral("swList"));
        QVERIFY(tree && stack);
        QCOMPARE(tree->topLevelItemCount(), 3);
        const QStringList categories = {QStringLiteral("Server"), QStringLiteral("Client"),
                                        QStringLiteral("Common")};
        const QList<QStringList> pages = {
            {"Broadcast", "Hardware clock", "Access"},
            {"Sync"},
            {"Message reporting", "Statistics", "Additional options"}};
        QCOMPARE(stack->count(), 13);
        // No item is current yet: the form's second blank page shows.
        QCOMPARE(stack->currentIndex(), 1);
        QVERIFY(!action(window, "applyAction")->isEnabled());
        QVERIFY(!action(window, "cancelAction")->isEnabled());
        for (const char* name : kLockedActions)
            QVERIFY2(action(window, name)->isEnabled(), name);
        int expectedIndex = 3;
        for (int c = 0; c < 3; ++c) {
            QTreeWidgetItem* category = tree->topLevelItem(c);
            QCOMPARE(category->text(0), categories[c]);
            QVERIFY(category->isExpanded());
            QCOMPARE(category->data(0, Qt::UserRole).toInt(), expectedIndex);
            QVERIFY(qobject_cast<ListItemWidget*>(stack->widget(expectedIndex++)));
            QCOMPARE(category->childCount(), pages[c].size());
            for (int p = 0; p < pages[c].size(); ++p) {
                QTreeWidgetItem* page = category->child(p);
                QCOMPARE(page->text(0), pages[c][p]);
                QCOMPARE(page->data(0, Qt::UserRole).toInt(), expectedIndex++);
                // Built in its place when first opened.
                tree->setCurrentItem(page);
                QWidget* widget = stack->widget(page->data(0, Qt::UserRole).toInt());
                QCOMPARE(stack->currentWidget(), widget);
                QVERIFY(qobject_cast<ModifiableWidget*>(widget));
                QCOMPARE(widget->windowTitle(), pages[c][p]);
            }
        }
        QCOMPARE(stack->count(), 13);
        const QStringList toolBars = {"tbServer", "editToolBar", "dialogToolBar",
                                      "navigationToolBar"};
        for (const QString& name : toolBars)
            QCOMPARE(window.toolBarArea(window.findChild<QToolBar*>(name)), Qt::TopToolBarArea);
    }

    // File, Edit, Server, Help, "Exit" last in File; the tool bars' own
    // actions first, in their order.
    void menuAndToolBarOrder()
    {
        FNTP window;
        QStringList menus;
        for (QAction* menu : window.menuBar()->actions())
            menus << menu->text();
        QCOMPARE(menus, QStringList({"&File", "&Edit", "&Server", "Help"}));
        const QList<QAction*> file =
            window.findChild<QMenu*>(QStringLiteral("menu_File"))->actions();
        QCOMPARE(file.last(), action(window, "aExit"));
        QVERIFY(file.contains(action(window, "aRestoreVersion")));
        const QList<QAction*> edit =
            window.findChild<QMenu*>(QStringLiteral("menu_Edit"))->actions();
        QCOMPARE(edit.value(0), action(window, "aReviewChanges"));
        QCOMPARE(edit.value(1), action(window, "aCheck"));
        const QList<QPair<const char*, QStringList>> own = {
            {"menu_Server", {"aStart", "aStop", "aRestart", "aReload"}},
            {"tbServer", {"aStart", "aStop", "aRestart", "aReload"}},
            {"editToolBar", {"editConfig", "refleshWidgetAction"}},
            {"dialogToolBar", {"applyAction", "cancelAction"}},
            {"navigationToolBar",
             {"moveBackAction", "moveForwardAction", "moveUpAction", "moveDownAction"}}};
        for (const auto& entry : own) {
            auto* holder = window.findChild<QWidget*>(QLatin1String(entry.first));
            QStringList names;
            for (QAction* a : holder->actions())
                names << a->objectName();
            QCOMPARE(names.mid(0, entry.second.size()), entry.second);
        }
    }

    void navigation()
    {
        FNTP window;
        window.show();
        auto* tree = window.findChild<QTreeWidget*>(QStringLiteral("twList"));
        auto* stack = window.findChild<QStackedWidget*>(QStringLiteral("swList"));
        auto* title = window.findChild<QLineEdit*>(QStringLiteral("titleWidgetLineEdit"));
        QAction* up = action(window, "moveUpAction");
        QAction* down = action(window, "moveDownAction");
        QAction* back = action(window, "moveBackAction");
        QAction* forward = action(window, "moveForwardAction");

        tree->setCurrentItem(tree->topLevelItem(0));
        QCOMPARE(title->text(), QStringLiteral("Server"));
        QVERIFY(title->isReadOnly());
        QVERIFY(!up->isEnabled()); // first category: nothing above, no parent
        QVERIFY(!back->isEnabled());
        QVERIFY(forward->isEnabled());
        QVERIFY(down->isEnabled());
        QVERIFY(!action(window, "refleshWidgetAction")->isEnabled()); // a category list
        up->trigger();
        QCOMPARE(tree->currentItem(), tree->topLevelItem(0));

        forward->trigger(); // first page of "Server"
        QCOMPARE(tree->currentItem()->text(0), QStringLiteral("Broadcast"));
        QCOMPARE(stack->currentIndex(), 4);
        QVERIFY(!forward->isEnabled());
        QVERIFY(back->isEnabled());
        QVERIFY(up->isEnabled()); // the parent
        QVERIFY(action(window, "refleshWidgetAction")->isEnabled());
        down->trigger();
        down->trigger();
        QCOMPARE(tree->currentItem()->text(0), QStringLiteral("Access"));
        QVERIFY(!down->isEnabled());
        up->trigger();
        QCOMPARE(tree->currentItem()->text(0), QStringLiteral("Hardware clock"));
        back->trigger();
        QCOMPARE(tree->currentItem(), tree->topLevelItem(0));
        down->trigger();
        QCOMPARE(tree->currentItem(), tree->topLevelItem(1));
        up->trigger();
        QCOMPARE(tree->currentItem(), tree->topLevelItem(0));

        tree->setCurrentItem(nullptr);
        QCOMPARE(stack->currentIndex(), 0);
        QVERIFY(title->text().isEmpty());
        for (QAction* move : {up, down, back, forward})
            QVERIFY(!move->isEnabled());
    }

    void categoryListDoubleClick()
    {
        FNTP window;
        window.show();
        auto* tree = window.findChild<QTreeWidget*>(QStringLiteral("twList"));
        auto* stack = window.findChild<QStackedWidget*>(QStringLiteral("swList"));
        tree->setCurrentItem(tree->topLevelItem(2));
        auto* list = qobject_cast<ListItemWidget*>(stack->currentWidget());
        QVERIFY(list);
        QCOMPARE(list->count(), 3);
        QCOMPARE(list->item(1)->text(), QStringLiteral("Statistics"));
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        list->setCurrentRow(1);
        const QPoint centre = list->visualItemRect(list->item(1)).center();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, centre);
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, centre);
        QCOMPARE(tree->currentItem()->text(0), QStringLiteral("Statistics"));
        QCOMPARE(stack->currentIndex(), 11);
        QCOMPARE(list->currentRow(), -1);
        QVERIFY(list->selectedItems().isEmpty());
    }

    void editCycle()
    {
        FNTP window;
        RecordingPage page(&window);
        QVERIFY(connect(&page, SIGNAL(dataChanged(ModifiableWidget*)), &window,
                        SLOT(needApplyCancelDialog(ModifiableWidget*))));
        auto* tree = window.findChild<QTreeWidget*>(QStringLiteral("twList"));

        page.change();
        QCOMPARE(window.editedPage(), &page);
        QVERIFY(!tree->isEnabled());
        for (const char* name : kLockedActions)
            QVERIFY2(!action(window, name)->isEnabled(), name);
        QVERIFY(action(window, "applyAction")->isEnabled());
        QVERIFY(action(window, "cancelAction")->isEnabled());
        QVERIFY(action(window, "aExit")->isEnabled());

        // Apply: the check of what it writes, save, then load, then
        // browsing again.
        action(window, "applyAction")->trigger();
        QCOMPARE(page.calls, QStringList({"preview", "save", "load"}));
        QVERIFY(tree->isEnabled());
        QVERIFY(!action(window, "applyAction")->isEnabled());
        for (const char* name : kLockedActions)
            QVERIFY2(action(window, name)->isEnabled(), name);

        // Cancel answered No changes nothing.
        page.calls.clear();
        page.change();
        BoxSeen seen;
        answerNextBox(QMessageBox::No, &seen);
        action(window, "cancelAction")->trigger();
        QVERIFY(seen.shown);
        QCOMPARE(seen.title, QStringLiteral("Cancel"));
        QCOMPARE(seen.text,
                 QStringLiteral(
                     "Changes not saved!\nDo you want to finish edit element without saving?"));
        QCOMPARE(seen.parent, &window);
        QVERIFY(page.calls.isEmpty());
        QCOMPARE(window.editedPage(), &page);
        QVERIFY(!tree->isEnabled());

        // Cancel answered Yes reloads the page and ends the edit.
        answerNextBox(QMessageBox::Yes);
        action(window, "cancelAction")->trigger();
        QCOMPARE(page.calls, QStringList({"load"}));
        QVERIFY(!window.editedPage());
        QVERIFY(tree->isEnabled());
    }

    void closeWhileEditing()
    {
        FNTP window;
        window.show();
        RecordingPage page(&window);
        connect(&page, SIGNAL(dataChanged(ModifiableWidget*)), &window,
                SLOT(needApplyCancelDialog(ModifiableWidget*)));
        page.change();
        answerNextBox(QMessageBox::No);
        QVERIFY(!window.close());
        QVERIFY(window.isVisible());
        QCOMPARE(window.editedPage(), &page);

        answerNextBox(QMessageBox::Yes);
        QVERIFY(window.close());
        QVERIFY(!window.isVisible());
    }

    void pagesThatEmitWhileLoading()
    {
        FNTP window;
        auto* stack = window.findChild<QStackedWidget*>(QStringLiteral("swList"));
        auto* page = new RecordingPage;
        page->emitOnLoad = true;
        stack->addWidget(page);
        connect(page, SIGNAL(dataChanged(ModifiableWidget*)), &window,
                SLOT(needApplyCancelDialog(ModifiableWidget*)));
        stack->setCurrentWidget(page);
        // Refresh blocks the page's signals: no edit state.
        action(window, "refleshWidgetAction")->trigger();
        QCOMPARE(page->calls, QStringList({"load"}));
        QVERIFY(!window.editedPage());
        QVERIFY(!page->signalsBlocked());
        // Apply's reload may emit; the edit state still ends.
        page->change();
        action(window, "applyAction")->trigger();
        QCOMPARE(page->calls, QStringList({"load", "preview", "save", "load"}));
        QVERIFY(!window.editedPage());
        QVERIFY(!action(window, "applyAction")->isEnabled());
    }

    // A page is built when first opened, from the file as it is then, once,
    // and its changes lead to the edit cycle like those of any page. Pages
    // built before it are read again when the file changed meanwhile, so
    // that none shows what the outside-change guard no longer compares with.
    void pagesAreBuiltWhenFirstOpened()
    {
        m_conf->write("server 192.0.2.1 iburst\nrestrict 10.0.0.0 mask 255.0.0.0\n");
        FNTP window;
        window.show();
        auto* access = openPage<FOptAccess>(&window);
        QVERIFY(access);
        auto* rules = access->findChild<QTreeWidget*>();
        QCOMPARE(listRows(rules, 1), QStringList({"10.0.0.0"}));
        QVERIFY(!window.findChild<FOptSync*>());

        m_conf->write("server 192.0.2.7 iburst\nserver 192.0.2.8\n"
                      "restrict 10.1.0.0 mask 255.255.0.0\n");
        auto* sync = openPage<FOptSync>(&window);
        QVERIFY(sync && sync->isVisible());
        auto* servers = sync->findChild<QTreeWidget*>();
        QCOMPARE(listRows(servers, 1), QStringList({"192.0.2.7", "192.0.2.8"}));
        QCOMPARE(listRows(rules, 1), QStringList({"10.1.0.0"}));
        QVERIFY(!window.editedPage());

        openPage<FOptAccess>(&window);
        openPage<FOptSync>(&window);
        QCOMPARE(window.findChildren<FOptSync*>().size(), 1);
        selectRow(servers, QStringLiteral("192.0.2.8"));
        answerNextBox(QMessageBox::Ok);
        sync->findChild<QPushButton*>(QStringLiteral("bDelete"))->click();
        QCOMPARE(window.editedPage(), sync);
        QVERIFY(action(window, "applyAction")->isEnabled());
    }

    void windowSettings()
    {
        QSize firstRun;
        {
            FNTP window;
            // The form's size is the least; the first run takes more where
            // the screen has room.
            firstRun = window.size();
            QVERIFY(firstRun.width() >= 436 && firstRun.height() >= 270);
        }
        QSettings settings;
        QVERIFY(settings.contains(QStringLiteral("MainWindow/Size")));
        QVERIFY(settings.contains(QStringLiteral("MainWindow/State")));
        QVERIFY(settings.contains(QStringLiteral("MainWindow/Splitter")));

        QByteArray splitterState;
        {
            FNTP window;
            window.show();
            window.resize(700, 500);
            auto* splitter = window.findChild<QSplitter*>(QStringLiteral("splitter"));
            splitter->setSizes({120, 500});
            splitterState = splitter->saveState();
            window.addToolBar(Qt::LeftToolBarArea,
                              window.findChild<QToolBar*>(QStringLiteral("dialogToolBar")));
        }
        FNTP again;
        QCOMPARE(again.size(), QSize(700, 500));
        QCOMPARE(again.findChild<QSplitter*>(QStringLiteral("splitter"))->saveState(),
                 splitterState);
        QCOMPARE(again.toolBarArea(again.findChild<QToolBar*>(QStringLiteral("dialogToolBar"))),
                 Qt::LeftToolBarArea);
    }

    void corruptSettingsFallBack()
    {
        {
            QSettings settings;
            settings.setValue(QStringLiteral("MainWindow/Splitter"), QByteArray("garbage"));
            settings.setValue(QStringLiteral("MainWindow/State"), QByteArray("\x01\x02junk"));
            settings.setValue(QStringLiteral("MainWindow/Size"), QStringLiteral("not a size"));
        }
        FNTP window;
        QSettings().clear();
        FNTP fresh;
        QCOMPARE(window.size(), fresh.size());
        QVERIFY(window.width() >= 436 && window.height() >= 270);
        QCOMPARE(window.toolBarArea(window.findChild<QToolBar*>(QStringLiteral("tbServer"))),
                 Qt::TopToolBarArea);
    }

private:
    std::unique_ptr<ConfFile> m_conf;
    StandInJudge m_judge; // the daemon as the judge of Apply's check
};

QTEST_MAIN(TestFntp)
#include "tst_fntp.moc"
