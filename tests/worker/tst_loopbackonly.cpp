// A worker on a clock faster than real time (or told so by its window) runs no job that would
// reach an address outside 127.0.0.0/8. Run in a network namespace of its own (only lo up), so
// that even a broken rule sends nothing to 192.0.2.x, and a sweep finds no subnet to visit.

#include "catalogue.h"
#include "jobrig.h"

#include <QtTest>

using namespace orvo;
using namespace orvo::test;

namespace {

const QString kUnused = QStringLiteral("000.000.000.000");

QString refusal(const QString &reason, const QString &target)
{
    return reason
        + QStringLiteral(" is for the device simulator only: jobs may then talk only to loopback addresses "
                         "(127.0.0.0/8), and ")
        + target + QStringLiteral(". The job was not started; nothing was sent.");
}

} // namespace

class tst_LoopbackOnly : public QObject
{
    Q_OBJECT

private slots:
    void scanRefused_data();
    void scanRefused();
    void deviceJobOnARecordThatNamesAnotherAddressRefused();
    void ruleSetByTheWindowOnARealClock();
};

void tst_LoopbackOnly::scanRefused_data()
{
    QTest::addColumn<bool>("manual");
    QTest::addColumn<QString>("target");
    QTest::newRow("a manual address") << true << QStringLiteral("192.0.2.20 is not one");
    QTest::newRow("the sweep") << false
                               << QStringLiteral("a scan without manual addresses sweeps the subnets of this computer");
}

void tst_LoopbackOnly::scanRefused()
{
    QFETCH(bool, manual);
    QFETCH(QString, target);
    JobRig rig;
    QVERIFY(rig.startWith(devsim::defaultDevice(LumivoxKvr10, QStringLiteral("127.0.0.2"))));
    const int before = rig.sim.snapshot(0).connections;
    QVERIFY(rig.run(ScanNetwork, [manual](Worker &w) {
        w.manualIpEnabled = manual;
        const QString entries[4] = { QStringLiteral("127.0.0.2"), QStringLiteral("192.000.002.020"), kUnused, kUnused };
        for (int i = 0; i < 4; ++i)
            w.manualIp[i] = entries[i];
    }));

    const QString text = refusal(QStringLiteral("The time factor 1000"), target);
    QCOMPARE(rig.front.lines, QStringList { QStringLiteral("[3] Error!  ") + text });
    QCOMPARE(rig.front.boxes.size(), 1);
    QCOMPARE(rig.front.boxes.first().text, text);
    // The window takes its controls back with the device list, as after any scan.
    QCOMPARE(rig.front.deviceLists.size(), 1);
    QCOMPARE(rig.front.jobEnds.size(), 1);
    QCOMPARE(rig.front.jobEnds.first().end, JobEnd::Refused);
    QCOMPARE(rig.sim.snapshot(0).connections, before); // not even the loopback entry was asked
}

void tst_LoopbackOnly::deviceJobOnARecordThatNamesAnotherAddressRefused()
{
    JobRig rig;
    devsim::DeviceConfig device = devsim::defaultDevice(LumivoxKvr10, QStringLiteral("127.0.0.2"));
    device.recordAddress = QStringLiteral("192.0.2.21");
    rig.sim.addDevice(device);
    QVERIFY(rig.start());
    QVERIFY(rig.run(ScanNetwork, [](Worker &w) {
        w.manualIpEnabled = true;
        w.manualIp[0] = QStringLiteral("127.0.0.2");
    }));
    QCOMPARE(rig.worker().foundDevices.size(), 1);
    rig.front.reset();

    QVERIFY(rig.run(CheckPanel, [](Worker &w) {
        w.selectedDevice = 0;
        w.deviceType = LumivoxKvr10;
        w.panelIndex = 0;
    }));
    QCOMPARE(rig.front.lines, QStringList { QStringLiteral("[3] Error!  ")
                                            + refusal(QStringLiteral("The time factor 1000"),
                                                      QStringLiteral("192.0.2.21 is not one")) });
    QCOMPARE(rig.front.enables, QVector<bool>({ false, true }));
    QCOMPARE(rig.front.jobEnds.first().end, JobEnd::Refused);
    QCOMPARE(rig.sim.snapshot(0).connections, 1); // the scan's
}

void tst_LoopbackOnly::ruleSetByTheWindowOnARealClock()
{
    TestFrontEnd front;
    WorkerHost host(Clock::real(), &front);
    QCOMPARE(host.worker()->loopbackOnlyReason(), QString());
    host.worker()->setLoopbackOnly(QStringLiteral("The test control"));
    QVERIFY(runJob(host, ScanNetwork, [](Worker &w) { w.manualIpEnabled = false; }));
    QCOMPARE(front.lines, QStringList { QStringLiteral("[3] Error!  ")
                                       + refusal(QStringLiteral("The test control"),
                                                 QStringLiteral("a scan without manual addresses sweeps the subnets "
                                                                "of this computer")) });
}

QTEST_GUILESS_MAIN(tst_LoopbackOnly)
#include "tst_loopbackonly.moc"
