// The notice above the pages is as tall as its lines, whatever the room.
#include <QApplication>
#include <QLabel>
#include <QTest>
#include <QVBoxLayout>

#include "app/status/daemonnotice.h"

class TestDaemonNotice : public QObject
{
    Q_OBJECT

private slots:
    void asTallAsItsText_data()
    {
        QTest::addColumn<int>("width");
        QTest::addColumn<int>("lines");
        QTest::newRow("two lines, narrow window") << 520 << 2;
        QTest::newRow("two lines, wide window") << 1000 << 2;
        QTest::newRow("one long line wraps") << 400 << 1;
        QTest::newRow("one long line, wide window") << 1200 << 1;
    }
    void asTallAsItsText()
    {
        QFETCH(int, width);
        QFETCH(int, lines);
        QWidget window;
        auto* layout = new QVBoxLayout(&window);
        auto* notice = new DaemonNotice(&window);
        auto* pages = new QWidget(&window);
        pages->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
        layout->addWidget(notice);
        layout->addWidget(pages, 1);
        auto* text = notice->findChild<QLabel*>(QStringLiteral("daemonNoticeText"));
        QVERIFY(text);
        const QString sentence =
            QStringLiteral("The file edited is not the file the daemon reads.");
        QStringList paragraphs;
        for (int i = 0; i < lines; ++i)
            paragraphs << (lines == 1 ? sentence.repeated(8) : sentence);
        text->setText(paragraphs.join(QLatin1Char('\n')));
        notice->show();
        window.resize(width, 700);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QApplication::processEvents();
        // What the label needs at its width, and the frame's margins.
        const int needed = text->heightForWidth(text->width());
        QVERIFY2(notice->height() <= needed + 20,
                 qPrintable(
                     QStringLiteral("%1 px for %2 px of text").arg(notice->height()).arg(needed)));
        QVERIFY(notice->height() >= needed);
        QVERIFY(pages->height() > 500);
    }
};

QTEST_MAIN(TestDaemonNotice)
#include "tst_daemonnotice.moc"
