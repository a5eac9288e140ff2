// versions and auto-update on several devices at once, as a process against simulated devices:
// each device's result in its own report section, the worst status as the exit status, the
// summary line, the devices' lines prefixed and whole in the log, and a device that fails
// (stops answering, refuses an erase, lacks its file) failing alone while the others are updated.

#include "catalogue.h"
#include "clirun.h"
#include "demofirmware.h"

#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace orvo;
using namespace orvo::devsim;

namespace {

constexpr double kSpeedUp = 500.0;
constexpr int kOutdated = 17; // a console board with a small image

const QStringList kAddresses
    = { QStringLiteral("127.0.0.2"), QStringLiteral("127.0.0.3"), QStringLiteral("127.0.0.4") };

// What goes wrong on the second device.
enum class Trouble { None, StopsAnswering, RefusesErase, FileMissing, Silent };

} // namespace

Q_DECLARE_METATYPE(Trouble)

class tst_CliMulti : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void run_data();
    void run();

private:
    QTemporaryDir m_dir;
    QString m_firmware;
};

void tst_CliMulti::initTestCase()
{
    QVERIFY(m_dir.isValid());
    qputenv("XDG_DATA_HOME", m_dir.filePath(QStringLiteral("data")).toUtf8());
    m_firmware = m_dir.filePath(QStringLiteral("HexFiles"));
    QString error;
    QVERIFY2(demo::writeDemoFirmware(m_firmware, &error, 8, 3) > 0, qPrintable(error));
}

void tst_CliMulti::run_data()
{
    QTest::addColumn<Trouble>("trouble");
    QTest::addColumn<QStringList>("arguments"); // the devices are added by the test
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QVariantMap>("report");
    QTest::addColumn<QList<int>>("updated"); // devices whose board ends on the new version

    const QVariantMap ok { { "devices/0/exitStatus", 0 }, { "devices/2/exitStatus", 0 } };
    auto with = [](QVariantMap m, const QVariantMap &more) {
        for (auto it = more.begin(); it != more.end(); ++it)
            m.insert(it.key(), it.value());
        return m;
    };
    QTest::newRow("versions") << Trouble::None << QStringList { "versions" } << 0
                              << with(ok,
                                     { { "devices/1/exitStatus", 0 }, { "summary/devices", 3 },
                                         { "devices/1/board:17/upToDate", false } })
                              << QList<int>();
    QTest::newRow("all updated, two at once")
        << Trouble::None << QStringList { "auto-update", "--yes", "--parallel", "2" } << 0
        << with(ok,
               { { "parallel", 2 }, { "summary/devicesUpdated", 3 }, { "summary/boardsUpdated", 3 },
                   { "devices/1/board:17/versionAfter", 5 } })
        << QList<int> { 0, 1, 2 };
    // The failing device: the others go on and end up to date; the status is the failed one's.
    const QVariantMap failed = with(ok,
        { { "devices/1/exitStatus", 4 }, { "devices/1/outcome", "update failed" }, { "devices/1/failedBoards", 1 },
            { "summary/devicesUpdated", 2 }, { "summary/devicesFailed", 1 }, { "summary/boardsFailed", 1 },
            { "summary/exitStatus", 4 }, { "exitStatus", 4 } });
    QTest::newRow("one stops answering mid-update")
        << Trouble::StopsAnswering << QStringList { "auto-update", "--yes" } << 4 << failed << QList<int> { 0, 2 };
    QTest::newRow("one refuses the erase")
        << Trouble::RefusesErase << QStringList { "auto-update", "--yes" } << 4 << failed << QList<int> { 0, 2 };
    QTest::newRow("one lacks its file") << Trouble::FileMissing << QStringList { "auto-update", "--yes" } << 4
                                        << with(failed, { { "devices/1/board:2/result", 6 } })
                                        << QList<int> { 0, 1, 2 }; // its other board is updated
    QTest::newRow("one never answers")
        << Trouble::Silent << QStringList { "auto-update", "--yes", "--parallel", "1" } << 3
        << with(ok, { { "devices/1/exitStatus", 3 }, { "devices/1/device", "<null>" }, { "summary/devicesFailed", 1 } })
        << QList<int> { 0, 2 };
    QTest::newRow("answered no") << Trouble::None << QStringList { "auto-update", "--no" } << 5
                                 << QVariantMap { { "devices/1/exitStatus", 5 }, { "summary/devicesSkipped", 3 } }
                                 << QList<int>();
    QTest::newRow("all found by the scan")
        << Trouble::None
        << QStringList { "auto-update", "--yes", "--all", "--ip", kAddresses.at(0), "--ip", kAddresses.at(1), "--ip",
               kAddresses.at(2) }
        << 0 << with(ok, { { "found/2/ip", kAddresses.at(2) }, { "summary/devicesUpdated", 3 } })
        << QList<int> { 0, 1, 2 };
}

void tst_CliMulti::run()
{
    QFETCH(Trouble, trouble);
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QVariantMap, report);
    QFETCH(QList<int>, updated);

    Simulator sim(kSpeedUp);
    const QString firmware = m_dir.filePath(QStringLiteral("fw-") + QTest::currentDataTag());
    QVERIFY(demo::writeDemoFirmware(firmware, nullptr, 8, 3) > 0);
    for (int i = 0; i < kAddresses.size(); ++i) {
        DeviceConfig d = outdated(defaultDevice(Console6170, kAddresses.at(i)), kOutdated);
        d.mac[5] = static_cast<std::uint8_t>(i + 2);
        d.name = QByteArray("Console ") + QByteArray::number(i + 1);
        if (i == 1 && trouble == Trouble::FileMissing)
            d = outdated(d, 2); // a board whose file is removed below
        if (i != 1 || trouble != Trouble::Silent)
            sim.addDevice(d);
    }
    QString error;
    QVERIFY2(sim.start(0, &error), qPrintable(error));
    const int second = 1;
    if (trouble == Trouble::StopsAnswering) {
        // The console's info and version scan take 25 requests; the 4th request after them is inside
        // the update of the out-of-date board.
        Fault vanish;
        vanish.kind = FaultKind::Vanish;
        vanish.startAt = 29;
        sim.addFault(second, vanish);
    } else if (trouble == Trouble::RefusesErase) {
        Fault erase;
        erase.kind = FaultKind::EraseNeverConfirmed;
        erase.position = kOutdated;
        sim.addFault(second, erase);
    } else if (trouble == Trouble::FileMissing) {
        // Board 2 of the second device is also out of date; its file is gone.
        QVERIFY(QFile::remove(firmware + QLatin1Char('/') + firmwareFile(Console6170, 2)));
    }

    const QString json = m_dir.filePath(QStringLiteral("multi.json"));
    const QString log = m_dir.filePath(QStringLiteral("multi.log"));
    QFile::remove(log);
    QStringList all = arguments;
    if (!arguments.contains(QStringLiteral("--all")))
        all += kAddresses;
    all += { "--port", QString::number(sim.port()), "--speed-up", QString::number(kSpeedUp), "--firmware", firmware,
        "--json", json, "--log", log };
    QProcess p;
    start(p, all);
    QVERIFY(p.waitForStarted());
    const CliRun run = finish(p);
    QVERIFY2(run.exitCode == exitCode, qPrintable(run.lines.join(QLatin1Char('\n')) + run.err));

    const QString bad = jsonMismatch(readJson(json), report);
    QVERIFY2(bad.isEmpty(), qPrintable(bad + run.lines.join(QLatin1Char('\n'))));

    // Every line but the program's own belongs to one device and says which; the last one sums up.
    const QRegularExpression owned(QStringLiteral("^(127\\.0\\.0\\.[234]: |-- |\\[|    |$)"));
    for (const QString &line : run.lines)
        QVERIFY2(owned.match(line).hasMatch(), qPrintable(line));
    QVERIFY2(
        run.lines.filter(QRegularExpression(QStringLiteral("^-- 3 devices: .*; exit status %1$").arg(exitCode))).size()
            == 1,
        qPrintable(run.lines.join(QLatin1Char('\n'))));

    // The log holds whole, time-stamped lines of every device that answered (and those of the
    // scan that --all runs first, which belong to no device).
    QFile file(log);
    QVERIFY(file.open(QIODevice::ReadOnly | QIODevice::Text));
    const QStringList logLines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    const QRegularExpression logLine(
        QStringLiteral("^\\d\\d/\\d\\d/\\d{4}  \\d\\d:\\d\\d:\\d\\d\\.\\d{3}   (127\\.0\\.0\\.[234]: (\\S|$)|%1)")
            .arg(arguments.contains(QStringLiteral("--all")) ? QStringLiteral("[^1]") : QStringLiteral("$^")));
    for (const QString &line : logLines)
        QVERIFY2(logLine.match(line).hasMatch(), qPrintable(line));
    QVERIFY(!logLines.filter(QStringLiteral("   127.0.0.4: ")).isEmpty());

    for (int i = 0; i < kAddresses.size(); ++i) {
        if (trouble == Trouble::Silent && i == second)
            continue;
        const int device = trouble == Trouble::Silent && i > second ? i - 1 : i;
        const int version = sim.snapshot(device).boards[kOutdated].version;
        const int build = buildVersion(Console6170, panelSlot(Console6170, kOutdated).boardType);
        QVERIFY2(
            (version == build) == updated.contains(i), qPrintable(QStringLiteral("device %1: %2").arg(i).arg(version)));
    }
}

QTEST_GUILESS_MAIN(tst_CliMulti)
#include "tst_cli_multi.moc"
