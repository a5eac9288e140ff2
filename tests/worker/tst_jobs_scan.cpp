// The manual network scan, driven through the host's request protocol against simulated devices
// on loopback addresses, and hosts on port 51000 that answer far too much, a byte at a time,
// nothing but 0xFF, without end, or with another device's identity: whatever they send, the job
// ends by its own waits, keeps its memory and says in the activity list what it found. The
// subnet sweep is tested only inside network namespaces (tst_netscan).

#include "catalogue.h"
#include "jobrig.h"

#include <QFile>
#include <QtTest>

using namespace orvo;
using namespace orvo::test;

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// Freed blocks wait in the sanitizers' quarantine, and ThreadSanitizer's shadow memory grows with
// every block the exchanges touch: resident memory does not tell what the program keeps.
constexpr bool kResidentMemoryTellsUse = false;
#else
constexpr bool kResidentMemoryTellsUse = true;
#endif

const QString kUnused = QStringLiteral("000.000.000.000");
const QString kStarted = QStringLiteral("[2] Scanning Network for Orvo Products...");
const QString kEnabled = QStringLiteral("[2] Manual IP Scan Enabled.");

const QStringList kManualProgress
    = { "1,0,1,0,100", "1,0,1,0,100", "1,25,1,0,100", "1,50,1,0,100", "1,75,1,0,100", "0,0,1,0,100" };

// Kilobytes of this process's resident memory: now, or at its peak since resetPeakKb().
qint64 statusKb(const char *field)
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(qstrlen(field)).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

bool resetPeakKb()
{
    QFile refs(QStringLiteral("/proc/self/clear_refs"));
    return refs.open(QIODevice::WriteOnly) && refs.write("5") == 1;
}

} // namespace

class tst_JobsScan : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { quietDebugLines(); }
    void manualScanOfFourEntriesThenARescan();
    void manualScan_data();
    void manualScan();
    void recordsThatClaimAnotherIdentity();
    void scanOfHostileDiscoveryReplies();
    void floodedStatusQueryEndsWithoutBufferingTheFlood();
};

void tst_JobsScan::manualScanOfFourEntriesThenARescan()
{
    JobRig rig;
    devsim::DeviceConfig desk = devsim::defaultDevice(Console6170, QStringLiteral("127.0.0.2"));
    desk.name = "Studio A Desk";
    devsim::DeviceConfig unit = devsim::defaultDevice(LumivoxKvr10, QStringLiteral("127.0.0.4"));
    unit.name = "Booth 2";
    rig.sim.addDevice(desk);
    rig.sim.addDevice(unit);
    QVERIFY(rig.start());

    // The console is entered twice (once with leading zeros) and answers both times; it is
    // listed once, in the place where it first answered.
    QVERIFY(rig.scan({ "127.0.0.2", kUnused, "127.000.000.002", "127.0.0.4" }));
    QCOMPARE(rig.front.lines,
        QStringList(
            { kStarted, kEnabled, "[2] Scanning IP address: 127.0.0.2 ...", "[2]^ Scanning IP address: 127.0.0.2 ...",
                "[2]^ Scanning IP address: 127.0.0.4 ...", "[2]^ Finished Network Scan", "[2] Orvo Products Found: 2",
                "[2] #1:  Type: 6170 Console  |  Studio A Desk  |  IP: 127.0.0.2",
                "[2] #2:  Type: Lumivox KVR10  |  Booth 2  |  IP: 127.0.0.4" }));
    // The list goes out before "Finished Network Scan"; the window restores its controls on it.
    QCOMPARE(rig.front.trace.mid(0, 1), QStringList({ "clear" }));
    QCOMPARE(rig.front.traceOf({ "devices", "line" }).indexOf("devices"), 5);
    QVERIFY(rig.front.enables.isEmpty());
    QCOMPARE(rig.front.progress, kManualProgress);
    QCOMPARE(rig.front.deviceLists.size(), 1);
    QCOMPARE(rig.worker().knownDevices(), rig.front.deviceLists.first());
    QCOMPARE(rig.sim.snapshot(0).infoRequests, 2);

    // A second scan starts from an empty list: only the device asked this time is listed.
    rig.front.reset();
    QVERIFY(rig.scan({ "127.0.0.4" }));
    QCOMPARE(rig.front.deviceLists.size(), 1);
    QCOMPARE(rig.front.deviceLists.first().size(), 1);
    QCOMPARE(ipText(rig.front.deviceLists.first().first()), QStringLiteral("127.0.0.4"));
    QCOMPARE(rig.worker().knownDevices(), rig.front.deviceLists.first());
}

void tst_JobsScan::manualScan_data()
{
    // Against a KVR30 on 127.0.0.2 and a TX512 on 127.0.0.3.
    QTest::addColumn<QStringList>("entries");
    QTest::addColumn<QStringList>("lines");
    const QString kvr30 = QStringLiteral("[2] #1:  Type: Lumivox KVR30  |  Lumivox KVR30  |  IP: 127.0.0.2");
    const QString scanning2 = QStringLiteral("[2] Scanning IP address: 127.0.0.2 ...");

    QTest::newRow("no entries") << QStringList { kUnused, "255.255.255.255", kUnused,
        kUnused } << QStringList { kStarted, kEnabled, "[2]^ Finished Network Scan", "[2] Orvo Products Found: 0" };
    // A malformed entry is named and skipped; the warning stays: the closing line does not replace it.
    for (const char *entry : { "127.0.0", "127.0.0.2.1", "127.0.0.256", "127.0..2", "127.0.0.-2",
             "127.0.0.99999999999999999999", "localhost", "" })
        QTest::addRow("malformed '%s'", entry)
            << QStringList { kUnused, entry }
            << QStringList { kStarted, kEnabled,
                   QStringLiteral("[4] Warning!  Manual IP address '%1' is not a valid IPv4 address - skipped")
                       .arg(entry),
                   "[2] Finished Network Scan", "[2] Orvo Products Found: 0" };
    QTest::newRow("malformed among valid ones")
        << QStringList { "127.0.0.2", "127.0.0", "127.0.0.3", kUnused }
        << QStringList { kStarted, kEnabled, scanning2,
               "[4]^ Warning!  Manual IP address '127.0.0' is not a valid IPv4 address - skipped",
               "[2] Scanning IP address: 127.0.0.3 ...", "[2]^ Finished Network Scan", "[2] Orvo Products Found: 2",
               kvr30, "[2] #2:  Type: Lumivox TX512  |  Lumivox TX512  |  IP: 127.0.0.3" };
    // A field has at most the dialog's three digits: a hand-edited settings file that pads it
    // further names no address the window would take.
    QTest::newRow("four digits") << QStringList { "0127.0.0000.0002" }
                                 << QStringList { kStarted, kEnabled,
                                        "[4] Warning!  Manual IP address '0127.0.0000.0002' is not a valid IPv4 "
                                        "address - skipped",
                                        "[2] Finished Network Scan", "[2] Orvo Products Found: 0" };
}

void tst_JobsScan::manualScan()
{
    QFETCH(QStringList, entries);
    QFETCH(QStringList, lines);
    JobRig rig;
    rig.sim.addDevice(devsim::defaultDevice(LumivoxKvr30, QStringLiteral("127.0.0.2")));
    rig.sim.addDevice(devsim::defaultDevice(LumivoxTx512, QStringLiteral("127.0.0.3")));
    QVERIFY(rig.start());
    QVERIFY(rig.scan(entries));

    QCOMPARE(rig.front.lines, lines);
    QCOMPARE(rig.front.progress, kManualProgress);
    QCOMPARE(rig.front.deviceLists.size(), 1);
    QCOMPARE(rig.front.deviceLists.first(), rig.worker().knownDevices());
    // Each listed device was asked once; an entry that was skipped reached nobody.
    const int listed = int(rig.worker().knownDevices().size());
    QCOMPARE(rig.sim.snapshot(0).connections + rig.sim.snapshot(1).connections, listed);
}

void tst_JobsScan::recordsThatClaimAnotherIdentity()
{
    JobRig rig;
    devsim::DeviceConfig ones = devsim::defaultDevice(LumivoxKvr10, QStringLiteral("127.0.0.71"));
    devsim::DeviceConfig liar = devsim::defaultDevice(LumivoxKvr10, QStringLiteral("127.0.0.72"));
    liar.recordAddress = QStringLiteral("127.0.0.74");
    devsim::DeviceConfig genuine = devsim::defaultDevice(LumivoxKvr10, QStringLiteral("127.0.0.73"));
    genuine.name = "Genuine";
    genuine.mac = liar.mac = { { 0x00, 0x1a, 0x2b, 0x02, 0x00, 0xad } };
    for (const devsim::DeviceConfig &c : { ones, liar, genuine })
        rig.sim.addDevice(c);
    QVERIFY(rig.start());
    rig.sim.addFault(0, { devsim::FaultKind::AllBytesFF, -1, 1, -1, 1 });
    QVERIFY(rig.scan({ "127.0.0.71", "127.0.0.72", "127.0.0.73" }));

    // A record of 0xFF behind a valid header is listed as what it says; the liar's record (the
    // genuine device's MAC) is replaced by the genuine one where it stood, and both are named.
    QCOMPARE(rig.front.lines.mid(6),
        QStringList({ "[2] Orvo Products Found: 2",
            "[2] #1:  Type: Unknown device type 4294967295  |  " + QString(31, QChar(0xFF))
                + "  |  IP: 255.255.255.255",
            "[2] #2:  Type: Lumivox KVR10  |  Genuine  |  IP: 127.0.0.73",
            "[4] Warning!  The device at 127.0.0.71 sends a record for 255.255.255.255: its jobs go to "
            "255.255.255.255",
            "[4] Warning!  The device at 127.0.0.72 sends a record for 127.0.0.74: its jobs go to 127.0.0.74",
            "[4] Warning!  The record from 127.0.0.73 replaces the one for 127.0.0.74 (same MAC "
            "00:1a:2b:02:00:ad)" }));
    QCOMPARE(rig.worker().knownDevices().size(), 2);
}

void tst_JobsScan::scanOfHostileDiscoveryReplies()
{
    JobRig rig;
    for (const char *name : { "Long", "Ones", "Trickle", "Flood" }) {
        devsim::DeviceConfig c
            = devsim::defaultDevice(LumivoxKvr10, QStringLiteral("127.0.0.%1").arg(61 + rig.sim.deviceCount()));
        c.name = name;
        rig.sim.addDevice(c);
    }
    QVERIFY(rig.start());
    rig.sim.addFault(0, { devsim::FaultKind::LongReply, -1, 1, -1, 4 * 1024 * 1024 });
    rig.sim.addFault(1, { devsim::FaultKind::AllBytesFF, -1, 1, -1, 0 });
    rig.sim.addFault(2, { devsim::FaultKind::Trickle, -1, 1, -1, 100 }); // 12 s of device time for the record
    rig.sim.addFault(3, { devsim::FaultKind::Flood, -1, 1, -1, 0 });
    QVERIFY(rig.scan({ "127.0.0.61", "127.0.0.62", "127.0.0.63", "127.0.0.64" }));

    // The record is the first 123 bytes, whatever follows; a reply of 0xFF is no record.
    QCOMPARE(rig.front.lines.mid(7),
        QStringList({ "[2] Orvo Products Found: 3", "[2] #1:  Type: Lumivox KVR10  |  Long  |  IP: 127.0.0.61",
            "[2] #2:  Type: Lumivox KVR10  |  Trickle  |  IP: 127.0.0.63",
            "[2] #3:  Type: Lumivox KVR10  |  Flood  |  IP: 127.0.0.64" }));
    QCOMPARE(rig.sim.snapshot(1).infoRequests, 1);
}

void tst_JobsScan::floodedStatusQueryEndsWithoutBufferingTheFlood()
{
    JobRig rig;
    QVERIFY(rig.startWith(devsim::defaultDevice(LumivoxKvr10, QStringLiteral("127.0.0.81"))));
    rig.sim.addFault(0, { devsim::FaultKind::Flood, 0, 1, -1, 100 * 1024 * 1024 });

    // A reply that goes on past its 76 bytes is no reply: the check fails and says so.
    QVERIFY(rig.run(JobMode::CheckPanel, rig.select(0, 0)));
    QCOMPARE(rig.front.lines,
        QStringList({ "[0] ", "[2] Contacting Interface Processor...",
            "[4] Warning!  Failed to Connect to Interface Processor" }));

    // Status queries against a device that floods each connection with 100 MB: the socket takes
    // no more than a reply's worth, so the peak resident memory barely moves (a socket that took
    // each read whole grew it by 100 to 200 kB here, and by megabytes under load).
    PanelLink &link = rig.worker().link();
    const PanelSlot slot = panelSlot(LumivoxKvr10, 0);
    QVERIFY(resetPeakKb());
    const qint64 before = statusKb("VmRSS:");
    for (int i = 0; i < 10; ++i)
        QVERIFY(!link.exchangePanelPacket(statusQueryRequest(slot)).ok);
    const qint64 growth = statusKb("VmHWM:") - before;
    qInfo("peak resident memory growth over 10 flooded exchanges: %lld kB", growth);
    if (kResidentMemoryTellsUse)
        QVERIFY2(growth < 64, qPrintable(QString::number(growth)));
}

QTEST_GUILESS_MAIN(tst_JobsScan)
#include "tst_jobs_scan.moc"
