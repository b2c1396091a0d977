// The review's diff is exact for any text: the real `patch` program, given
// the old text and the diff, makes exactly the new text; and it stays small
// where the change is small.
#include <QtTest>

#include "config/unifieddiff.h"
#include "tests/common/testfiles.h"

using namespace TestHelpers;

namespace
{

QByteArray withCrlf(QByteArray text)
{
    return text.replace("\n", "\r\n");
}

// The diff, as the review would save it, applied by patch.
void checkPatchGivesAfter(const QByteArray& before, const QByteArray& after)
{
    const QVector<DiffLine> diff =
        unifiedDiff(before, after, QStringLiteral("a/ntp.conf"), QStringLiteral("b/ntp.conf"));
    QCOMPARE(diff.isEmpty(), before == after);
    if (diff.isEmpty())
        return;
    QString error;
    const QByteArray result = patchedByPatch(before, unifiedDiffText(diff).toLocal8Bit(), &error);
    QVERIFY2(error.isEmpty(), qPrintable(error));
    QVERIFY2(result == after, qPrintable(QStringLiteral("patch made %1 bytes, expected %2")
                                             .arg(result.size())
                                             .arg(after.size())));
}

int countOf(const QVector<DiffLine>& diff, DiffLine::Kind kind)
{
    return int(std::count_if(diff.begin(), diff.end(),
                             [kind](const DiffLine& line) { return line.kind == kind; }));
}

} // namespace

class TestUnifiedDiff : public QObject
{
    Q_OBJECT

private slots:
    void patchMakesTheNewText_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QByteArray>("after");
        const QByteArray big = generatedConfig(100000);
        const QByteArray repeated = generatedConfig(60000, 12);
        QTest::newRow("100,000 lines, a few edits") << big << withRandomEdits(big, 5, 1);
        QTest::newRow("100,000 lines, 30,000 edits") << big << withRandomEdits(big, 30000, 2);
        QTest::newRow("30,000 lines, 20,000 edits")
            << generatedConfig(30000) << withRandomEdits(generatedConfig(30000), 20000, 3);
        QTest::newRow("duplicated lines, 10,000 edits")
            << repeated << withRandomEdits(repeated, 10000, 4);
        QTest::newRow("duplicated lines, a few edits")
            << repeated << withRandomEdits(repeated, 3, 5);
        QTest::newRow("one line repeated, lines inserted and removed")
            << QByteArray(50000 * 2, 'x').replace("xx", "x\n")
            << QByteArray(50000 * 2, 'x').replace("xx", "x\n").insert(6, "y\n").remove(80000, 4);
        // So many changes among so few different lines that only part of
        // the comparison is made line by line.
        QByteArray randomBefore;
        QByteArray randomAfter;
        QRandomGenerator random(9);
        for (int i = 0; i < 100000; ++i) {
            randomBefore += "line " + QByteArray::number(random.bounded(20)) + '\n';
            randomAfter += "line " + QByteArray::number(random.bounded(20)) + '\n';
        }
        QTest::newRow("random lines of twenty") << randomBefore << randomAfter;
        QTest::newRow("every line replaced")
            << generatedConfig(20000) << generatedConfig(20000).replace(' ', '_');
        QTest::newRow("no line end at the end, before")
            << QByteArray("a\nb\nc") << QByteArray("a\nB\nc\n");
        QTest::newRow("no line end at the end, after")
            << QByteArray("a\nb\nc\n") << QByteArray("a\nB\nc");
        QTest::newRow("no line end at the end, both")
            << QByteArray("a\nb\nc") << QByteArray("A\nb\nc");
        QTest::newRow("no line end, last line changes")
            << QByteArray("a\nb\nc") << QByteArray("a\nb\nd");
        QTest::newRow("no line end, large")
            << big.chopped(1) << withRandomEdits(big, 3000, 7).chopped(1);
        QTest::newRow("empty before") << QByteArray() << QByteArray("a\nb\n");
        QTest::newRow("empty after") << QByteArray("a\nb\n") << QByteArray();
        QTest::newRow("empty and no line end") << QByteArray() << QByteArray("a");
        QTest::newRow("only a line end") << QByteArray("\n") << QByteArray("\n\n");
        QTest::newRow("CRLF to LF") << withCrlf(big.left(200000)) << big.left(200000);
        QTest::newRow("LF to CRLF") << big.left(200000) << withCrlf(big.left(200000));
        QTest::newRow("CRLF, edits") << withCrlf(big) << withCrlf(withRandomEdits(big, 20000, 8));
        QTest::newRow("lone CRs inside lines")
            << QByteArray("a\rb\nc\r\r\nd\re\n\r") << QByteArray("a\rB\nc\r\r\nd\re\n\r\r");
        QTest::newRow("line and paragraph separators inside lines")
            << QByteArray("a\xe2\x80\xa8 b\nc\xe2\x80\xa9\nd\n")
            << QByteArray("a\xe2\x80\xa8 B\nc\xe2\x80\xa9\nd\n\xe2\x80\xa8");
    }
    void patchMakesTheNewText()
    {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, after);
        checkPatchGivesAfter(before, after);
        checkPatchGivesAfter(after, before);
    }

    // Small edits in a large file show as small hunks, also where its lines
    // repeat and no line is unique.
    void smallEditsStaySmall_data()
    {
        QTest::addColumn<QByteArray>("before");
        QTest::addColumn<QByteArray>("after");
        QTest::addColumn<int>("hunks");
        QTest::addColumn<int>("removed");
        QTest::addColumn<int>("added");
        const QByteArray big = generatedConfig(100000);
        QByteArray three = big;
        three.replace("# group 1000\n", "# group one thousand\n")
            .replace("# group 50000\n", "")
            .replace("# group 90000\n", "# group 90000\nserver 192.0.2.1\n");
        QTest::newRow("unique lines") << big << three << 3 << 2 << 2;
        const QByteArray same = QByteArray(100000 * 2, 'x').replace("xx", "x\n");
        QByteArray two = same;
        two.replace(2000, 1, "y").replace(180000, 2, "z\nz\n");
        QTest::newRow("one line repeated") << same << two << 2 << 2 << 3;
        // Lines a, b, c over and over: one line inserted early, one replaced
        // in the middle and one removed late, so that the lines between are
        // shifted against each other.
        QByteArray abc;
        for (int i = 0; i < 100000; ++i)
            abc += char('a' + i % 3) + QByteArray("\n");
        QByteArray shifted = abc;
        shifted.remove(2 * 75000, 2).replace(2 * 50000, 1, "m").insert(2 * 10000, "y\n");
        QTest::newRow("three lines repeated, shifted") << abc << shifted << 3 << 2 << 2;
    }
    void smallEditsStaySmall()
    {
        QFETCH(QByteArray, before);
        QFETCH(QByteArray, after);
        QFETCH(int, hunks);
        QFETCH(int, removed);
        QFETCH(int, added);
        const QVector<DiffLine> diff =
            unifiedDiff(before, after, QStringLiteral("a"), QStringLiteral("b"));
        QCOMPARE(countOf(diff, DiffLine::Hunk), hunks);
        QCOMPARE(countOf(diff, DiffLine::Removed), removed);
        QCOMPARE(countOf(diff, DiffLine::Added), added);
    }

    void lineEndChangesAreCounted()
    {
        const QByteArray lf = "server a\nserver b\n\nserver c\n";
        LineEndChanges changes = lineEndChangesOf(unifiedDiff(withCrlf(lf), lf, {}, {}));
        QCOMPARE(changes.toLf, 4);
        QCOMPARE(changes.toCrlf, 0);
        changes = lineEndChangesOf(unifiedDiff(lf, withCrlf(lf), {}, {}));
        QCOMPARE(changes.toLf, 0);
        QCOMPARE(changes.toCrlf, 4);
        // A line whose text changes too is no line-end change.
        changes = lineEndChangesOf(unifiedDiff(withCrlf(lf), "server A\nserver b\n", {}, {}));
        QCOMPARE(changes.toLf, 1);
    }
};

QTEST_MAIN(TestUnifiedDiff)
#include "tst_unifieddiff.moc"
