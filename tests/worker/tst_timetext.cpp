#include "worker.h"

#include <QtTest>

using namespace orvo;

class tst_TimeText : public QObject
{
    Q_OBJECT

private slots:
    void split_data();
    void split();
};

void tst_TimeText::split_data()
{
    QTest::addColumn<qint64>("ms");
    QTest::addColumn<qint64>("hours");
    QTest::addColumn<qint64>("minutes");
    QTest::addColumn<qint64>("seconds");
    QTest::addColumn<qint64>("milliseconds");
    QTest::addColumn<QString>("panelText");
    QTest::addColumn<QString>("totalText");

    QTest::newRow("-5 s counts as zero") << qint64(-5000) << qint64(0) << qint64(0) << qint64(0) << qint64(0) << QString()
                                         << QString();
    QTest::newRow("0 s") << qint64(0) << qint64(0) << qint64(0) << qint64(0) << qint64(0) << QString() << QString();
    QTest::newRow("0.4 s") << qint64(400) << qint64(0) << qint64(0) << qint64(0) << qint64(400) << QString()
                           << QString();
    QTest::newRow("45 s") << qint64(45000) << qint64(0) << qint64(0) << qint64(45) << qint64(0)
                          << QStringLiteral("   [45 secs]") << QStringLiteral("     [45 secs]");
    QTest::newRow("75 s") << qint64(75000) << qint64(0) << qint64(1) << qint64(15) << qint64(0)
                          << QStringLiteral("   [1 mins, 15 secs]") << QStringLiteral("     [1 mins, 15 secs]");
    QTest::newRow("2 min 5 s") << qint64(125999) << qint64(0) << qint64(2) << qint64(5) << qint64(999)
                               << QStringLiteral("   [2 mins, 5 secs]") << QStringLiteral("     [2 mins, 5 secs]");
    QTest::newRow("2 min 0 s") << qint64(120000) << qint64(0) << qint64(2) << qint64(0) << qint64(0)
                               << QStringLiteral("   [2 mins, 0 secs]") << QStringLiteral("     [2 mins, 0 secs]");
    // An hour and more: the board's text names the hours as well, like the total.
    QTest::newRow("1 h 2 min 5 s") << qint64(3725000) << qint64(1) << qint64(2) << qint64(5) << qint64(0)
                                   << QStringLiteral("   [1 hrs, 2 mins, 5 secs]")
                                   << QStringLiteral("     [1 hrs, 2 mins, 5 secs]");
    QTest::newRow("1 h 0 min 0.5 s") << qint64(3600500) << qint64(1) << qint64(0) << qint64(0) << qint64(500)
                                     << QStringLiteral("   [1 hrs, 0 mins, 0 secs]")
                                     << QStringLiteral("     [1 hrs, 0 mins, 0 secs]");
    QTest::newRow("25 h 59 min 59 s") << qint64(93599000) << qint64(25) << qint64(59) << qint64(59) << qint64(0)
                                      << QStringLiteral("   [25 hrs, 59 mins, 59 secs]")
                                      << QStringLiteral("     [25 hrs, 59 mins, 59 secs]");
}

void tst_TimeText::split()
{
    QFETCH(qint64, ms);
    const DurationParts d = splitDuration(ms);
    QTEST(d.hours, "hours");
    QTEST(d.minutes, "minutes");
    QTEST(d.seconds, "seconds");
    QTEST(d.milliseconds, "milliseconds");
    QTEST(panelTimeText(ms), "panelText");
    QTEST(totalTimeText(ms), "totalText");
}

QTEST_GUILESS_MAIN(tst_TimeText)
#include "tst_timetext.moc"
