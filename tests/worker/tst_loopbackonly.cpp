// A worker on a clock faster than real time (or told so by its window), and the command-line
// program with --speed-up, reach no address outside 127.0.0.0/8. Run in a network namespace of
// its own (only lo up), so that even a broken rule sends nothing to 192.0.2.x, and a sweep finds
// no subnet to visit.

#include "catalogue.h"
#include "jobrig.h"

#include <QProcess>
#include <QtTest>

using namespace orvo;
using namespace orvo::test;

namespace {

QString refusal(const QString &reason, const QString &target)
{
    return "[3] Error!  " + reason
        + " is for the device simulator only: jobs may then talk only to loopback addresses (127.0.0.0/8), and "
        + target + ". The job was not started; nothing was sent.";
}

const QString kSweep = QStringLiteral("a scan without manual addresses sweeps the subnets of this computer");

} // namespace

class tst_LoopbackOnly : public QObject
{
    Q_OBJECT

private slots:
    void scanRefused_data();
    void scanRefused();
    void deviceJobOnARecordThatNamesAnotherAddressRefused();
    void ruleSetByTheWindowOnARealClock();
    void cliSpeedUpRefused_data();
    void cliSpeedUpRefused();
};

void tst_LoopbackOnly::scanRefused_data()
{
    QTest::addColumn<bool>("manual");
    QTest::addColumn<QString>("target");
    QTest::newRow("a manual address") << true << QStringLiteral("192.0.2.20 is not one");
    QTest::newRow("the sweep") << false << kSweep;
}

void tst_LoopbackOnly::scanRefused()
{
    QFETCH(bool, manual);
    QFETCH(QString, target);
    JobRig rig;
    QVERIFY(rig.startWith(devsim::defaultDevice(LumivoxKvr10, QStringLiteral("127.0.0.2"))));
    const int before = rig.sim.snapshot(0).connections;
    QVERIFY(rig.scan({ "127.0.0.2", "192.000.002.020" }));
    if (!manual) {
        rig.front.reset();
        QVERIFY(rig.run(JobMode::ScanNetwork, [](WorkRequest &w) { w.manualIpEnabled = false; }));
    }

    const QString line = refusal(QStringLiteral("The time factor 1000"), target);
    QCOMPARE(rig.front.lines, QStringList({ line }));
    QCOMPARE(rig.front.boxes, QStringList({ "3/400 Orvo Updater: " + line.mid(12) }));
    // The window takes its controls back with the device list, as after any scan.
    QCOMPARE(rig.front.deviceLists.size(), 1);
    QCOMPARE(rig.ended(), QStringLiteral("refused 0"));
    QCOMPARE(rig.sim.snapshot(0).connections, before); // not even the loopback entry was asked
}

void tst_LoopbackOnly::deviceJobOnARecordThatNamesAnotherAddressRefused()
{
    JobRig rig;
    devsim::DeviceConfig device = devsim::defaultDevice(LumivoxKvr10, QStringLiteral("127.0.0.2"));
    device.recordAddress = QStringLiteral("192.0.2.21");
    rig.sim.addDevice(device);
    QVERIFY(rig.start());
    QVERIFY(rig.scan({ "127.0.0.2" }));
    QCOMPARE(rig.worker().knownDevices().size(), 1);
    rig.front.reset();

    QVERIFY(rig.run(JobMode::CheckPanel, [](WorkRequest &w) {
        w.selectedDevice = 0;
        w.deviceType = LumivoxKvr10;
        w.panelIndex = 0;
    }));
    QCOMPARE(rig.front.lines,
        QStringList { refusal(QStringLiteral("The time factor 1000"), QStringLiteral("192.0.2.21 is not one")) });
    QCOMPARE(rig.front.enables, QVector<bool>({ false, true }));
    QCOMPARE(rig.ended(), QStringLiteral("refused 0"));
    QCOMPARE(rig.sim.snapshot(0).connections, 1); // the scan's
}

void tst_LoopbackOnly::ruleSetByTheWindowOnARealClock()
{
    TestFrontEnd front;
    WorkerHost host(Clock::real(), &front);
    QCOMPARE(host.worker()->loopbackOnlyReason(), QString());
    host.worker()->setLoopbackOnly(QStringLiteral("The test control"));
    QVERIFY(runJob(host, JobMode::ScanNetwork, [](WorkRequest &w) { w.manualIpEnabled = false; }));
    QCOMPARE(front.lines, QStringList({ refusal(QStringLiteral("The test control"), kSweep) }));
}

void tst_LoopbackOnly::cliSpeedUpRefused_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("target");
    QTest::newRow("device") << QStringList { "check", "192.0.2.10", "0" } << "192.0.2.10 is not one";
    QTest::newRow("one of the scan's addresses")
        << QStringList { "scan", "--ip", "127.0.0.2", "--ip", "192.0.2.11" } << "192.0.2.11 is not one";
    QTest::newRow("sweep") << QStringList { "scan" } << "a scan without --ip sweeps the subnets of this computer";
}

void tst_LoopbackOnly::cliSpeedUpRefused()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, target);
    QProcess p;
    p.start(QStringLiteral(ORVO_CLI_PATH), arguments + QStringList { "--speed-up", "50", "--debug" });
    QVERIFY(p.waitForFinished(60000));
    QCOMPARE(p.exitCode(), 2);
    QCOMPARE(p.readAllStandardOutput(), QByteArray());
    // The refusal and the usage line, and not one debug line of the worker: no job was requested.
    const QStringList err = QString::fromLocal8Bit(p.readAllStandardError()).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(err.size(), 2);
    QCOMPARE(err.first(),
        "orvo-updater-cli: --speed-up is for the device simulator only: it shortens the boards' "
        "restart and erase waits, so it is honoured only when every address the command talks to is "
        "a loopback address (127.0.0.0/8), and "
            + target + "; nothing was sent");
    QVERIFY(err.last().startsWith(QStringLiteral("Usage: orvo-updater-cli [options] ")));
}

QTEST_GUILESS_MAIN(tst_LoopbackOnly)
#include "tst_loopbackonly.moc"
