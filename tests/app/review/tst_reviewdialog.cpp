// The review and restore dialogs show each diff line as one line of the
// view in the colour of its kind, whatever characters the file holds, name
// changes of line ends, lay out long diffs in parts and compare kept copies
// off the GUI thread.
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTextBlock>
#include <QThreadPool>

#include "app/review/restoredialog.h"
#include "app/review/reviewdialog.h"
#include "config/config.h"
#include "tests/common/testhelpers.h"

#include <sys/stat.h>

using namespace TestHelpers;

namespace
{

QByteArray withCrlf(QByteArray text)
{
    return text.replace("\n", "\r\n");
}

// Checks that view block k shows diff line firstShown() + k: it starts with
// that line's mark, and every line of a kind has the background of that
// kind, unchanged lines none.
void checkBlocksFollowLines(const DiffView* view)
{
    QCOMPARE(view->document()->blockCount(), std::max(view->endShown() - view->firstShown(), 1));
    QMap<int, QColor> colourOfKind;
    QTextBlock block = view->document()->firstBlock();
    for (int i = view->firstShown(); i < view->endShown(); ++i, block = block.next()) {
        const DiffLine& line = view->lines().at(i);
        QVERIFY2(block.text().startsWith(line.text.left(1)),
                 qPrintable(QStringLiteral("line %1: %2").arg(i).arg(block.text())));
        const QBrush background = block.blockFormat().background();
        const QColor colour = background.style() == Qt::NoBrush ? QColor() : background.color();
        if (!colourOfKind.contains(line.kind))
            colourOfKind.insert(line.kind, colour);
        QCOMPARE(colour, colourOfKind.value(line.kind));
    }
    QVERIFY(!colourOfKind.value(DiffLine::Context).isValid());
    if (colourOfKind.contains(DiffLine::Removed) && colourOfKind.contains(DiffLine::Added))
        QVERIFY(colourOfKind.value(DiffLine::Removed) != colourOfKind.value(DiffLine::Added));
}

QStringList blockTexts(const DiffView* view)
{
    QStringList texts;
    for (QTextBlock block = view->document()->firstBlock(); block.isValid(); block = block.next())
        texts << block.text();
    return texts;
}

struct Review {
    ReviewDialog dialog{QStringLiteral("Review changes")};
    DiffView* view = dialog.findChild<DiffView*>();
    QString summary() const
    {
        return dialog.findChild<QLabel*>(QStringLiteral("lSummary"))->text();
    }
    QPushButton* button(const char* name) const
    {
        return dialog.findChild<QPushButton*>(QLatin1String(name));
    }
};

// Kept copies of a file in a folder of their own, newest first.
struct Copies {
    QTemporaryDir dir;
    QVector<ConfigBackup> backups;
    QString add(const QByteArray& bytes)
    {
        const QString path = dir.filePath(QStringLiteral("ntp.conf.%1").arg(backups.size()));
        writeFile(path, bytes);
        backups.append(
            {path, QDateTime::currentDateTimeUtc().addSecs(-backups.size()), QString(), 0});
        return path;
    }
};

} // namespace

class TestReviewDialog : public QObject
{
    Q_OBJECT

private slots:
    void cleanup() { QCOMPARE(rejectOpenModals(), 0); }

    void everyDiffLineIsOneViewLine()
    {
        Review review;
        const QByteArray before = "a\rb\nkeep\nc\xe2\x80\xa8"
                                  "d\ne\xe2\x80\xa9\nbell\a\n";
        const QByteArray after = "a\rB\nkeep\nc\xe2\x80\xa8"
                                 "D\ne\xe2\x80\xa9!\nbell\a!\n";
        review.dialog.setTexts(QStringLiteral("ntp.conf"), before, after);
        checkBlocksFollowLines(review.view);
        const QStringList texts = blockTexts(review.view);
        QVERIFY2(texts.contains(QStringLiteral("-a\\rb")), qPrintable(texts.join('|')));
        QVERIFY(texts.contains(QStringLiteral("+c\\u2028D")));
        QVERIFY(texts.contains(QStringLiteral("+e\\u2029!")));
        QVERIFY(texts.contains(QStringLiteral("-bell\\x07")));
        // Only a diff with CRLF line ends shows them.
        QVERIFY(!texts.join(QString()).contains(QLatin1String("\\n")));
    }

    void lineEndChangesAreNamed()
    {
        Review review;
        const QByteArray lf = "server a\nserver b\n\nserver c";
        review.dialog.setTexts(QStringLiteral("ntp.conf"), withCrlf(lf), lf);
        QCOMPARE(review.summary(), QStringLiteral("ntp.conf: all line ends change from CRLF to LF; "
                                                  "no other line changes."));
        const QStringList texts = blockTexts(review.view);
        QVERIFY2(texts.contains(QStringLiteral("-server a\\r\\n")), qPrintable(texts.join('|')));
        QVERIFY(texts.contains(QStringLiteral("+server a\\n")));
        QVERIFY(texts.contains(QStringLiteral(" server c"))); // no line end
        checkBlocksFollowLines(review.view);

        review.dialog.setTexts(QStringLiteral("ntp.conf"), lf, withCrlf(lf));
        QVERIFY2(review.summary().contains(QStringLiteral("all line ends change from LF to CRLF")),
                 qPrintable(review.summary()));

        QByteArray mixed = withCrlf(lf);
        mixed.replace("server b\r\n", "server b\n").replace("server a", "pool a");
        review.dialog.setTexts(QStringLiteral("ntp.conf"), withCrlf(lf), mixed);
        QCOMPARE(review.summary(),
                 QStringLiteral("ntp.conf: 2 lines removed, 2 lines added (1 line end changes "
                                "from CRLF to LF); no other line changes."));
    }

    void longDiffIsShownInParts()
    {
        Review review;
        const QByteArray before = generatedConfig(100000);
        review.dialog.setTexts(QStringLiteral("ntp.conf"), before,
                               withRandomEdits(before, 30000, 1));
        const int total = review.view->lines().size();
        QVERIFY(total > 3 * DiffView::pageLines);
        QCOMPARE(review.view->endShown(), DiffView::pageLines);
        checkBlocksFollowLines(review.view);
        QVERIFY(review.button("bShowMore")->isVisibleTo(&review.dialog));
        QVERIFY(!review.button("bShowEarlier")->isEnabled());
        review.button("bShowMore")->click();
        QCOMPARE(review.view->endShown(), 2 * DiffView::pageLines);
        checkBlocksFollowLines(review.view);

        // A line far down: the part around it.
        review.dialog.setTexts(QStringLiteral("ntp.conf"), before, before, 1 << 30);
        review.dialog.showLine(90000, true);
        QCOMPARE(review.view->textCursor().selectedText(),
                 QLatin1Char(' ') + QString::fromLatin1(before.split('\n').at(89999)));
        QVERIFY(review.view->firstShown() > 0);
        QVERIFY(review.view->endShown() < review.view->lines().size());
        checkBlocksFollowLines(review.view);
        const int first = review.view->firstShown();
        review.button("bShowEarlier")->click();
        QCOMPARE(review.view->firstShown(), first - DiffView::pageLines);
        checkBlocksFollowLines(review.view);
    }

    void restoreComparesOffTheGuiThread()
    {
        Copies copies;
        const QByteArray current = generatedConfig(2000);
        const QByteArray old = withRandomEdits(current, 300, 2);
        copies.add(old);
        RestoreDialog dialog(QStringLiteral("ntp.conf"), current, copies.backups);
        auto* view = dialog.findChild<DiffView*>();
        QCOMPARE(view->placeholderText(), QStringLiteral("Computing differences..."));
        QVERIFY(view->lines().isEmpty());
        QTRY_VERIFY(!view->lines().isEmpty());
        QCOMPARE(unifiedDiffText(view->lines()),
                 unifiedDiffText(unifiedDiff(current, old, QStringLiteral("ntp.conf"),
                                             dialog.findChild<QListWidget*>()->item(0)->text())));
        checkBlocksFollowLines(view);
    }

    // A slow comparison that ends after another copy was chosen is dropped.
    void staleComparisonIsDropped()
    {
        Copies copies;
        const QByteArray current = generatedConfig(100000);
        copies.add(withRandomEdits(current, 30000, 3));
        copies.add(current + "server 192.0.2.7\n");
        RestoreDialog dialog(QStringLiteral("ntp.conf"), current, copies.backups);
        auto* view = dialog.findChild<DiffView*>();
        dialog.findChild<QListWidget*>()->setCurrentRow(1);
        QThreadPool::globalInstance()->waitForDone();
        QTest::qWait(50);
        QTRY_COMPARE(view->lines().size(), 7);
        QCOMPARE(view->lines().last().text, QStringLiteral("+server 192.0.2.7"));
    }

    // Each copy is named by its date and by what made it.
    void copiesAreNamedByDateAndCause()
    {
        Copies copies;
        copies.add("server 192.0.2.1\n");
        copies.add("server 192.0.2.2\n");
        copies.backups[0].taken = QDateTime(QDate(2026, 3, 1), QTime(10, 20, 30), Qt::UTC);
        copies.backups[0].reason = QStringLiteral("before Apply of the Sync page");
        copies.backups[1].taken = QDateTime(QDate(2026, 2, 1), QTime(9, 0), Qt::UTC);
        RestoreDialog dialog(QStringLiteral("ntp.conf"), "server 192.0.2.1\n", copies.backups);
        auto* list = dialog.findChild<QListWidget*>();
        QCOMPARE(list->item(0)->text(),
                 QStringLiteral("2026-03-01 10:20:30 UTC, before Apply of the Sync page"));
        QCOMPARE(list->item(1)->text(), QStringLiteral("2026-02-01 09:00:00 UTC"));
        list->setCurrentRow(1);
        QCOMPARE(dialog.chosenRow(), 1);
        QCOMPARE(dialog.chosenPath(), copies.backups.at(1).path);
    }

    void unreadableCopiesAreNamed_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("message");
        QTest::newRow("larger than a configuration may be") << "large"
                                                            << "larger than 16 MiB";
        QTest::newRow("a FIFO") << "fifo"
                                << "Invalid argument";
        QTest::newRow("a symbolic link") << "link"
                                         << "symbolic links";
    }
    void unreadableCopiesAreNamed()
    {
        QFETCH(QString, kind);
        QFETCH(QString, message);
        Copies copies;
        const QString path = copies.add("server 192.0.2.1\n");
        QFile::remove(path);
        if (kind == QLatin1String("large")) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            QVERIFY(file.resize(configFileLimit + 1));
        } else if (kind == QLatin1String("fifo")) {
            QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        } else {
            QVERIFY(writeFile(path + QLatin1String(".target"), "server 192.0.2.9\n"));
            QVERIFY(QFile::link(path + QLatin1String(".target"), path));
        }
        RestoreDialog dialog(QStringLiteral("ntp.conf"), "server 192.0.2.1\n", copies.backups);
        auto* view = dialog.findChild<DiffView*>();
        QTRY_VERIFY(view->placeholderText().contains(message));
        QVERIFY(view->lines().isEmpty());
    }
};

QTEST_MAIN(TestReviewDialog)
#include "tst_reviewdialog.moc"
