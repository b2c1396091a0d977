// Apply never loses the user's edits or somebody else's change silently:
// a failed write is reported and keeps the edit state, and a file changed
// by another program since it was loaded is not overwritten unasked.
#include <QAbstractButton>
#include <QAction>
#include <QDir>
#include <QFile>
#include <QStandardPaths>
#include <QTest>

#include "app/fntp.h"
#include "app/review/applyflow.h"
#include "config/ntpsettings.h"
#include "pages/modifiablewidget.h"
#include "tests/common/countinghost.h"
#include "tests/common/testhelpers.h"

using namespace TestHelpers;

namespace
{

// A page that edits one field of the record, like the real pages do.
class LogFilePage : public ModifiableWidget
{
public:
    using ModifiableWidget::ModifiableWidget;
    QString shown;  // what the page shows after its last load
    QString edited; // the user's unapplied edit
    void loadSettings() override
    {
        readNtpSettings();
        shown = ntpSettings.logFile;
        edited = shown;
    }
    void saveSettings() override
    {
        ntpSettings.logFile = edited;
        writeNtpSettings();
    }
    void edit(const QString& value)
    {
        edited = value;
        emit dataChanged(this);
    }
};

struct Fixture {
    ConfFile conf{"logfile /var/log/ntp-a\nserver 192.0.2.1 iburst\n"};
    FNTP window;
    LogFilePage* page = new LogFilePage(&window);
    Fixture()
    {
        QObject::connect(page, SIGNAL(dataChanged(ModifiableWidget*)), &window,
                         SLOT(needApplyCancelDialog(ModifiableWidget*)));
        page->loadSettings();
    }
    QAction* apply() const { return window.findChild<QAction*>(QStringLiteral("applyAction")); }
};

} // namespace

class TestApplySafety : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void cleanup()
    {
        QCOMPARE(rejectOpenModals(), 0);
        QVERIFY(noStrayWindows());
    }

    void plainApplyAsksNothing()
    {
        Fixture f;
        f.page->edit(QStringLiteral("/var/log/ntp-b"));
        f.apply()->trigger(); // a box would stay open and fail cleanup()
        QVERIFY(!f.window.editedPage());
        QVERIFY(f.conf.read().contains("logfile /var/log/ntp-b\n"));
        QVERIFY(f.conf.read().contains("server 192.0.2.1 iburst\n"));
        QCOMPARE(f.page->shown, QStringLiteral("/var/log/ntp-b"));
    }

    void failedWriteIsReported()
    {
        Fixture f;
        const QByteArray before = f.conf.read();
        f.page->edit(QStringLiteral("/var/log/ntp-b"));
        {
            // Like a full disk: no file may grow beyond a few bytes.
            FileSizeLimit limit(8);
            BoxSeen seen;
            answerNextBox(QMessageBox::Ok, &seen);
            f.apply()->trigger();
            QVERIFY(seen.shown);
            QCOMPARE(seen.icon, QMessageBox::Critical);
            QCOMPARE(seen.parent, &f.window);
            QVERIFY2(seen.text.contains(f.conf.path()), qPrintable(seen.text));
            QVERIFY2(seen.text.contains(QStringLiteral("File too large")), qPrintable(seen.text));
        }
        // Still editing, the edit kept, the file as it was.
        QCOMPARE(f.window.editedPage(), f.page);
        QCOMPARE(f.page->edited, QStringLiteral("/var/log/ntp-b"));
        QVERIFY(f.apply()->isEnabled());
        QCOMPARE(f.conf.read(), before);
        QCOMPARE(QDir(f.conf.dir()).entryList(QDir::Files), QStringList{"ntp.conf"});

        // Once the file can be written, the next Apply goes through.
        f.apply()->trigger();
        QVERIFY(!f.window.editedPage());
        QVERIFY(f.conf.read().contains("logfile /var/log/ntp-b\n"));
    }

    // The server's answer lost with the connection: the box says the file
    // is one version or the other, and which one once the host answers.
    void lostAnswerIsToldOnceBack()
    {
        Fixture f;
        f.page->edit(QStringLiteral("/var/log/ntp-b"));
        LostAnswerHost lossy(&Host::current());
        Host::setCurrent(&lossy);
        BoxSeen seen;
        answerNextBox(QMessageBox::Ok, &seen);
        f.apply()->trigger();
        Host::setCurrent(nullptr);
        QCOMPARE(seen.icon, QMessageBox::Critical);
        QVERIFY2(seen.text.contains(QStringLiteral("either the old or the new version")),
                 qPrintable(seen.text));
        QCOMPARE(f.window.editedPage(), f.page);

        BoxSeen told;
        answerNextBox(QMessageBox::Ok, &told);
        tellLostWrite(&f.window);
        QCOMPARE(told.icon, QMessageBox::Information);
        QVERIFY2(told.text.contains(QStringLiteral("is the new version")), qPrintable(told.text));
        // The file is the program's own now: Apply asks nothing.
        f.apply()->trigger();
        QVERIFY(!f.window.editedPage());
        QVERIFY(f.conf.read().contains("logfile /var/log/ntp-b\n"));
    }

    void vanishedDirectory()
    {
        Fixture f;
        f.page->edit(QStringLiteral("/var/log/ntp-b"));
        // The directory is replaced by a plain file: the old file is gone
        // (an outside change) and nothing can be written there.
        const QString dir = f.conf.dir();
        QVERIFY(QDir().rename(dir, dir + QStringLiteral(".away")));
        QFile blocker(dir);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();

        BoxSeen changed, failed;
        onNextModal([&](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            QVERIFY(box);
            changed.shown = true;
            changed.text = box->text();
            answerNextBox(QMessageBox::Ok, &failed); // the write that follows fails
            box->findChild<QAbstractButton*>(QStringLiteral("bOverwrite"))->click();
        });
        f.apply()->trigger();
        QVERIFY(changed.shown);
        QVERIFY(failed.shown);
        QCOMPARE(failed.icon, QMessageBox::Critical);
        QVERIFY2(failed.text.contains(QStringLiteral("Not a directory")), qPrintable(failed.text));
        QCOMPARE(f.window.editedPage(), f.page);
        QVERIFY(QFile::remove(dir));
        QVERIFY(QDir().rename(dir + QStringLiteral(".away"), dir));
    }

    void outsideChange_data()
    {
        QTest::addColumn<QString>("answer");
        QTest::newRow("overwrite") << "bOverwrite";
        QTest::newRow("reload") << "bReload";
        QTest::newRow("continue editing") << "bContinueEditing";
    }
    void outsideChange()
    {
        QFETCH(QString, answer);
        Fixture f;
        f.page->edit(QStringLiteral("/var/log/ntp-b"));
        const QByteArray outside = "logfile /var/log/ntp-outside\nserver 192.0.2.9\n";
        f.conf.write(outside);

        BoxSeen seen;
        answerNextBoxWith(answer, &seen);
        f.apply()->trigger();
        QVERIFY(seen.shown);
        QVERIFY(seen.text.contains(f.conf.path()));
        QCOMPARE(seen.parent, &f.window);

        if (answer == QLatin1String("bOverwrite")) {
            QVERIFY(!f.window.editedPage());
            QVERIFY(f.conf.read().contains("logfile /var/log/ntp-b\n"));
            QCOMPARE(f.page->shown, QStringLiteral("/var/log/ntp-b"));
        } else if (answer == QLatin1String("bReload")) {
            QVERIFY(!f.window.editedPage());
            QCOMPARE(f.conf.read(), outside);
            QCOMPARE(f.page->shown, QStringLiteral("/var/log/ntp-outside"));
        } else {
            QCOMPARE(f.window.editedPage(), f.page);
            QCOMPARE(f.conf.read(), outside);
            QCOMPARE(f.page->edited, QStringLiteral("/var/log/ntp-b"));
        }
    }

    // Another change after the question was answered: the write stops and
    // the question comes again, about the file as it is then.
    void changeAfterTheQuestion()
    {
        Fixture f;
        f.page->edit(QStringLiteral("/var/log/ntp-b"));
        f.conf.write("logfile /var/log/ntp-outside\n");
        const QByteArray later = "logfile /var/log/ntp-later\ntos minclock 3\n";
        int asked = 0;
        BoxSeen second;
        onNextModal([&](QWidget* modal) {
            ++asked;
            f.conf.write(later); // while the user reads the question
            answerNextBoxWith(QStringLiteral("bContinueEditing"), &second);
            modal->findChild<QAbstractButton*>(QStringLiteral("bOverwrite"))->click();
        });
        f.apply()->trigger();
        QCOMPARE(asked, 1);
        QVERIFY(second.shown);
        QVERIFY(second.text.contains(f.conf.path()));
        QCOMPARE(f.conf.read(), later);
        QCOMPARE(f.window.editedPage(), f.page);
        // Answered with Overwrite now, Apply writes over that version: the
        // lines the pages do not hold come from it.
        answerNextBoxWith(QStringLiteral("bOverwrite"));
        f.apply()->trigger();
        QVERIFY(!f.window.editedPage());
        QVERIFY(f.conf.read().contains("logfile /var/log/ntp-b\n"));
        QVERIFY(f.conf.read().contains("tos minclock 3\n"));
    }

    void touchedButUnchangedIsNoChange()
    {
        Fixture f;
        f.page->edit(QStringLiteral("/var/log/ntp-c"));
        f.conf.write(f.conf.read()); // same bytes, new time stamp
        f.apply()->trigger();
        QVERIFY(!f.window.editedPage());
        QVERIFY(f.conf.read().contains("logfile /var/log/ntp-c\n"));
    }
};

QTEST_MAIN(TestApplySafety)
#include "tst_applysafety.moc"
