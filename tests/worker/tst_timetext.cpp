#include "worker.h"

#include <QtTest>

using namespace orvo;

// The elapsed time at the end of a board's result line and of a whole run's closing line.
class tst_TimeText : public QObject
{
    Q_OBJECT

private slots:
    void texts_data();
    void texts();
};

void tst_TimeText::texts_data()
{
    QTest::addColumn<qint64>("ms");
    QTest::addColumn<QString>("panelText");
    QTest::addColumn<QString>("totalText");

    QTest::newRow("-5 s counts as zero") << qint64(-5000) << QString() << QString();
    QTest::newRow("0.4 s") << qint64(400) << QString() << QString();
    QTest::newRow("45 s") << qint64(45000) << "   [45 secs]" << "     [45 secs]";
    QTest::newRow("75 s") << qint64(75000) << "   [1 mins, 15 secs]" << "     [1 mins, 15 secs]";
    QTest::newRow("2 min 5.999 s") << qint64(125999) << "   [2 mins, 5 secs]" << "     [2 mins, 5 secs]";
    QTest::newRow("2 min 0 s") << qint64(120000) << "   [2 mins, 0 secs]" << "     [2 mins, 0 secs]";
    // An hour and more: the board's text names the hours as well, like the total.
    QTest::newRow("1 h 0 min 0.5 s") << qint64(3600500) << "   [1 hrs, 0 mins, 0 secs]" << "     [1 hrs, 0 mins, 0 secs]";
    QTest::newRow("25 h 59 min 59 s") << qint64(93599000) << "   [25 hrs, 59 mins, 59 secs]"
                                      << "     [25 hrs, 59 mins, 59 secs]";
}

void tst_TimeText::texts()
{
    QFETCH(qint64, ms);
    QTEST(panelTimeText(ms), "panelText");
    QTEST(totalTimeText(ms), "totalText");
}

QTEST_GUILESS_MAIN(tst_TimeText)
#include "tst_timetext.moc"
