// The manual network scan, driven through the host's request protocol against simulated devices
// on loopback addresses. The subnet sweep is tested only inside network namespaces
// (tst_netscan).

#include "catalogue.h"
#include "jobrig.h"

#include <QtTest>

using namespace orvo;
using namespace orvo::test;

namespace {

const QString kUnused = QStringLiteral("000.000.000.000");

std::function<void(Worker &)> manualEntries(const QStringList &entries)
{
    return [entries](Worker &w) {
        w.manualIpEnabled = true;
        for (int i = 0; i < 4; ++i)
            w.manualIp[i] = entries.value(i, kUnused);
    };
}

const QString kStarted = QStringLiteral("[2] Scanning Network for Orvo Products...");
const QString kEnabled = QStringLiteral("[2] Manual IP Scan Enabled.");

QString invalid(const QString &entry, bool replace)
{
    return (replace ? QStringLiteral("[4]^ Warning!  Manual IP address '") : QStringLiteral("[4] Warning!  Manual IP address '"))
        + entry + QStringLiteral("' is not a valid IPv4 address - skipped");
}

QVector<ProgressCall> manualProgress()
{
    return { { true, 0, true, 0, 100 },  { true, 0, true, 0, 100 },  { true, 25, true, 0, 100 },
             { true, 50, true, 0, 100 }, { true, 75, true, 0, 100 }, { false, 0, true, 0, 100 } };
}

} // namespace

class tst_JobsScan : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void manualScanOfFourEntriesThenARescan();
    void manualScan_data();
    void manualScan();

private:
    std::unique_ptr<DebugCapture> m_debug;
};

void tst_JobsScan::initTestCase()
{
    m_debug = std::make_unique<DebugCapture>();
}

void tst_JobsScan::cleanupTestCase()
{
    m_debug.reset();
}

void tst_JobsScan::manualScanOfFourEntriesThenARescan()
{
    JobRig rig;
    devsim::DeviceConfig desk = devsim::defaultDevice(Console6170, QStringLiteral("127.0.0.2"));
    desk.name = "Studio A Desk";
    desk.byData[0] = 1;
    desk.byData[1] = 7;
    devsim::DeviceConfig unit = devsim::defaultDevice(LumivoxKvr10, QStringLiteral("127.0.0.4"));
    unit.name = "Booth 2";
    rig.sim.addDevice(desk);
    rig.sim.addDevice(unit);
    QVERIFY(rig.start());

    // The console is entered twice (once with leading zeros) and answers both times; it is
    // listed once, in the place where it first answered.
    QVERIFY(rig.run(ScanNetwork,
                    manualEntries({ QStringLiteral("127.0.0.2"), kUnused, QStringLiteral("127.000.000.002"),
                                    QStringLiteral("127.0.0.4") })));

    const QStringList expected = {
        kStarted,
        kEnabled,
        QStringLiteral("[2] Scanning IP address: 127.0.0.2 ..."),
        QStringLiteral("[2]^ Scanning IP address: 127.0.0.2 ..."),
        QStringLiteral("[2]^ Scanning IP address: 127.0.0.4 ..."),
        QStringLiteral("[2]^ Finished Network Scan"),
        QStringLiteral("[2] Orvo Products Found: 2"),
        QStringLiteral("[2] #1:  Type: 6170 Console  |  Studio A Desk  |  IP: 127.0.0.2"),
        QStringLiteral("[2] #2:  Type: Lumivox KVR10  |  Booth 2  |  IP: 127.0.0.4"),
    };
    QCOMPARE(rig.front.lines, expected);
    QCOMPARE(rig.front.trace.first(), QStringLiteral("clear"));
    QVERIFY(rig.front.enables.isEmpty()); // the window restores its controls on the device list
    QCOMPARE(rig.front.progress, manualProgress());
    QCOMPARE(rig.front.traceOf({ QStringLiteral("devices"), QStringLiteral("line") }).indexOf(QStringLiteral("devices")),
             5); // the list goes out before "Finished Network Scan"

    QCOMPARE(rig.front.deviceLists.size(), 1);
    const DeviceList list = rig.front.deviceLists.first();
    QCOMPARE(list.size(), 2);
    QCOMPARE(ipText(list.at(0)), QStringLiteral("127.0.0.2"));
    QCOMPARE(list.at(0).nameBytes(), QByteArray("Studio A Desk"));
    QCOMPARE(ipText(list.at(1)), QStringLiteral("127.0.0.4"));
    QCOMPARE(rig.worker().foundDevices, list);
    QCOMPARE(rig.sim.snapshot(0).infoRequests, 2);
    QCOMPARE(rig.sim.snapshot(1).infoRequests, 1);

    QVERIFY(rig.sim.violations().isEmpty());

    // A second scan starts from an empty list: only the device asked this time is listed.
    rig.front.reset();
    QVERIFY(rig.run(ScanNetwork, manualEntries({ QStringLiteral("127.0.0.4") })));
    QCOMPARE(rig.front.deviceLists.size(), 1);
    QCOMPARE(rig.front.deviceLists.first().size(), 1);
    QCOMPARE(ipText(rig.front.deviceLists.first().first()), QStringLiteral("127.0.0.4"));
    QCOMPARE(rig.worker().foundDevices, rig.front.deviceLists.first());
}

void tst_JobsScan::manualScan_data()
{
    // Against a KVR30 on 127.0.0.2 and a TX512 on 127.0.0.3.
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QStringList>("lines");
    const QString finished = QStringLiteral("[2] Finished Network Scan");
    const QString none = QStringLiteral("[2] Orvo Products Found: 0");
    const QString kvr30 = QStringLiteral("[2] #1:  Type: Lumivox KVR30  |  Lumivox KVR30  |  IP: 127.0.0.2");
    const QString scanning2 = QStringLiteral("[2] Scanning IP address: 127.0.0.2 ...");

    QTest::newRow("no entries") << QStringList { kUnused, QStringLiteral("255.255.255.255"), kUnused, kUnused }
                                << QStringList { kStarted, kEnabled, QStringLiteral("[2]^ Finished Network Scan"), none };
    // A malformed entry is named and skipped; the warning stays: the closing line does not replace it.
    for (const QString &entry : { QStringLiteral("127.0.0"), QStringLiteral("127.0.0.2.1"), QStringLiteral("127.0.0.256"),
                                  QStringLiteral("127.0..2"), QStringLiteral("127.0.0.x2"), QStringLiteral("127.0.0.-2"),
                                  QStringLiteral("127.0.0.99999999999999999999"), QStringLiteral("localhost"), QString() })
        QTest::addRow("malformed '%s'", qPrintable(entry))
            << QStringList { kUnused, entry, kUnused, kUnused }
            << QStringList { kStarted, kEnabled, invalid(entry, false), finished, none };
    QTest::newRow("malformed among valid ones")
        << QStringList { QStringLiteral("127.0.0.2"), QStringLiteral("127.0.0"), QStringLiteral("127.0.0.3"), kUnused }
        << QStringList { kStarted, kEnabled, scanning2, invalid(QStringLiteral("127.0.0"), true),
                         QStringLiteral("[2] Scanning IP address: 127.0.0.3 ..."), QStringLiteral("[2]^ Finished Network Scan"),
                         QStringLiteral("[2] Orvo Products Found: 2"), kvr30,
                         QStringLiteral("[2] #2:  Type: Lumivox TX512  |  Lumivox TX512  |  IP: 127.0.0.3") };
    // Only the value of a field counts: a hand-edited settings file may pad it further than the
    // dialog does, and the entry is still a plain address.
    for (const QString &entry : { QStringLiteral("127.000.000.002"), QStringLiteral("0127.0.0000.0002") })
        QTest::addRow("leading zeros '%s'", qPrintable(entry))
            << QStringList { entry }
            << QStringList { kStarted, kEnabled, scanning2, QStringLiteral("[2]^ Finished Network Scan"),
                             QStringLiteral("[2] Orvo Products Found: 1"), kvr30 };
}

void tst_JobsScan::manualScan()
{
    QFETCH(QStringList, entries);
    QFETCH(QStringList, lines);
    JobRig rig;
    rig.sim.addDevice(devsim::defaultDevice(LumivoxKvr30, QStringLiteral("127.0.0.2")));
    rig.sim.addDevice(devsim::defaultDevice(LumivoxTx512, QStringLiteral("127.0.0.3")));
    QVERIFY(rig.start());
    QVERIFY(rig.run(ScanNetwork, manualEntries(entries)));

    QCOMPARE(rig.front.lines, lines);
    QCOMPARE(rig.front.progress, manualProgress());
    QCOMPARE(rig.front.deviceLists.size(), 1);
    QCOMPARE(rig.front.deviceLists.first(), rig.worker().foundDevices);
    // Each listed device was asked once; an entry that was skipped reached nobody.
    for (int d = 0; d < 2; ++d) {
        const bool listed = std::any_of(rig.worker().foundDevices.begin(), rig.worker().foundDevices.end(),
                                        [&](const OrvoDiscoveryInfo &i) { return ipText(i) == rig.sim.address(d); });
        QCOMPARE(rig.sim.snapshot(d).connections, listed ? 1 : 0);
    }
}

QTEST_GUILESS_MAIN(tst_JobsScan)
#include "tst_jobs_scan.moc"
