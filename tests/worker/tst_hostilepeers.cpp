// Hostile peers on port 51000: hosts that answer far too much, a byte at a time, nothing but
// 0xFF, without end, or with another device's identity. Whatever they send, the job ends by its
// own waits, keeps its memory, says in the activity list what it found, and does not crash.

#include "catalogue.h"
#include "jobrig.h"

#include <QFile>
#include <QtTest>

using namespace orvo;
using namespace orvo::test;

namespace {

const QString kUnused = QStringLiteral("000.000.000.000");

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
// Freed blocks wait in the sanitizers' quarantine, and ThreadSanitizer's shadow memory grows with
// every block the exchanges touch: resident memory does not tell what the program keeps.
constexpr bool kResidentMemoryTellsUse = false;
#else
constexpr bool kResidentMemoryTellsUse = true;
#endif

std::function<void(Worker &)> manualEntries(const QStringList &entries)
{
    return [entries](Worker &w) {
        w.manualIpEnabled = true;
        for (int i = 0; i < 4; ++i)
            w.manualIp[i] = entries.value(i, kUnused);
    };
}

devsim::Fault fault(devsim::FaultKind kind, int param = 0, int position = -1)
{
    devsim::Fault f;
    f.kind = kind;
    f.param = param;
    f.position = position;
    return f;
}

devsim::DeviceConfig unit(const char *address, const char *name)
{
    devsim::DeviceConfig c = devsim::defaultDevice(LumivoxKvr10, QString::fromLatin1(address));
    c.name = name;
    return c;
}

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

class tst_HostilePeers : public QObject
{
    Q_OBJECT

private slots:
    void scanOfHostileDiscoveryReplies();
    void recordsThatClaimAnotherIdentity();
    void floodedStatusQueryEndsWithoutBufferingTheFlood();
    void trickledStatusReply_data();
    void trickledStatusReply();
};

void tst_HostilePeers::scanOfHostileDiscoveryReplies()
{
    JobRig rig;
    rig.sim.addDevice(unit("127.0.0.61", "Long"));
    rig.sim.addDevice(unit("127.0.0.62", "Ones"));
    rig.sim.addDevice(unit("127.0.0.63", "Trickle"));
    rig.sim.addDevice(unit("127.0.0.64", "Flood"));
    QVERIFY(rig.start());
    rig.sim.addFault(0, fault(devsim::FaultKind::LongReply, 4 * 1024 * 1024));
    rig.sim.addFault(1, fault(devsim::FaultKind::AllBytesFF));
    rig.sim.addFault(2, fault(devsim::FaultKind::Trickle, 100)); // 12 s of device time for the record
    rig.sim.addFault(3, fault(devsim::FaultKind::Flood));
    QVERIFY(rig.run(ScanNetwork, manualEntries({ QStringLiteral("127.0.0.61"), QStringLiteral("127.0.0.62"),
                                                 QStringLiteral("127.0.0.63"), QStringLiteral("127.0.0.64") })));

    // The record is the first 123 bytes, whatever follows; a reply of 0xFF is no record.
    QCOMPARE(rig.front.lines.mid(7), QStringList({
                                         QStringLiteral("[2] Orvo Products Found: 3"),
                                         QStringLiteral("[2] #1:  Type: Lumivox KVR10  |  Long  |  IP: 127.0.0.61"),
                                         QStringLiteral("[2] #2:  Type: Lumivox KVR10  |  Trickle  |  IP: 127.0.0.63"),
                                         QStringLiteral("[2] #3:  Type: Lumivox KVR10  |  Flood  |  IP: 127.0.0.64"),
                                     }));
    QCOMPARE(rig.sim.snapshot(1).infoRequests, 1);
}

void tst_HostilePeers::recordsThatClaimAnotherIdentity()
{
    JobRig rig;
    rig.sim.addDevice(unit("127.0.0.71", "Ones with a header"));
    rig.sim.addDevice(unit("127.0.0.72", "Impostor"));
    rig.sim.addDevice(unit("127.0.0.73", "Genuine"));
    QVERIFY(rig.start());
    rig.sim.addFault(0, fault(devsim::FaultKind::AllBytesFF, 1));
    rig.sim.addFault(1, fault(devsim::FaultKind::ForeignRecord, 2));
    QVERIFY(rig.run(ScanNetwork, manualEntries({ QStringLiteral("127.0.0.71"), QStringLiteral("127.0.0.72"),
                                                 QStringLiteral("127.0.0.73") })));

    // A record of 0xFF behind a valid header is listed as what it says; the impostor's record
    // (the genuine device's MAC and address) is replaced by the genuine one where it stood.
    const DeviceList list = rig.worker().foundDevices;
    QCOMPARE(list.size(), 2);
    QCOMPARE(ipText(list.at(0)), QStringLiteral("255.255.255.255"));
    QCOMPARE(macText(list.at(0)), QStringLiteral("ff:ff:ff:ff:ff:ff"));
    QCOMPARE(list.at(0).nameBytes(), QByteArray(31, '\xFF'));
    QCOMPARE(list.at(1).nameBytes(), QByteArray("Genuine"));
    QCOMPARE(ipText(list.at(1)), QStringLiteral("127.0.0.73"));
    QVERIFY(rig.front.lines.contains(QStringLiteral("[2] Orvo Products Found: 2")));
    QVERIFY(rig.front.lines.contains(QStringLiteral("[2] #2:  Type: Lumivox KVR10  |  Genuine  |  IP: 127.0.0.73")));
    const QString first = rig.front.lines.value(rig.front.lines.indexOf(QStringLiteral("[2] Orvo Products Found: 2")) + 1);
    QVERIFY2(first.startsWith(QStringLiteral("[2] #1:  Type: Unknown device type 4294967295  |  "))
                 && first.endsWith(QStringLiteral("  |  IP: 255.255.255.255")),
             qPrintable(first));
}

void tst_HostilePeers::floodedStatusQueryEndsWithoutBufferingTheFlood()
{
    JobRig rig;
    const devsim::DeviceConfig device = unit("127.0.0.81", "Flood");
    QVERIFY(rig.startWith(device));
    rig.sim.addFault(0, fault(devsim::FaultKind::Flood, 100 * 1024 * 1024, 0));

    // A reply that goes on past its 76 bytes is no reply: the check fails and says so.
    QVERIFY(rig.run(CheckPanel, rig.select(0, 0)));
    const QString name = panelName(LumivoxKvr10, 0);
    QCOMPARE(rig.front.lines, QStringList({ QStringLiteral("[0] "), QStringLiteral("[2] Contacting ") + name + "...",
                                            QStringLiteral("[4] Warning!  Failed to Connect to ") + name }));

    // Status queries against a device that floods each connection with 100 MB: the socket takes
    // no more than a reply's worth, so the peak resident memory barely moves (a socket that took
    // each read whole grew it by 100 to 200 kB here, and by megabytes under load).
    PanelLink &link = rig.worker().link();
    const PanelSlot slot = panelSlot(LumivoxKvr10, 0);
    QVERIFY(resetPeakKb());
    const qint64 before = statusKb("VmRSS:");
    for (int i = 0; i < 10; ++i)
        QVERIFY(!link.exchangePanelPacket(RouteBootStatus, slot.channel, slot.panel, 4, CmdStatusQuery, 0,
                                          slot.boardType, slot.boardAddress, false, 5000));
    const qint64 growth = statusKb("VmHWM:") - before;
    qInfo("peak resident memory growth over 10 flooded exchanges: %lld kB", growth);
    if (kResidentMemoryTellsUse)
        QVERIFY2(growth < 64, qPrintable(QString::number(growth)));
}

void tst_HostilePeers::trickledStatusReply_data()
{
    QTest::addColumn<int>("byteGapMs");
    QTest::addColumn<QString>("verdict");
    const QString name = panelName(LumivoxKvr10, 0);
    const int build = buildVersion(LumivoxKvr10, panelSlot(LumivoxKvr10, 0).boardType);
    // 76 bytes 50 ms apart arrive within the 5 s wait; 100 s apart they never do, and the waits
    // end the exchange.
    QTest::newRow("within the wait") << 50
                                     << QStringLiteral("[2] %1 Found!  Firmware version: %2  (%2)").arg(name).arg(build);
    QTest::newRow("beyond every wait") << 100000 << QStringLiteral("[4] Warning!  Failed to Connect to ") + name;
}

void tst_HostilePeers::trickledStatusReply()
{
    QFETCH(int, byteGapMs);
    QFETCH(QString, verdict);
    JobRig rig;
    QVERIFY(rig.startWith(unit("127.0.0.91", "Trickle")));
    rig.sim.addFault(0, fault(devsim::FaultKind::Trickle, byteGapMs, 0));
    QVERIFY(rig.run(CheckPanel, rig.select(0, 0)));
    QCOMPARE(rig.front.lines.value(2), verdict);
    QCOMPARE(rig.front.enables, QVector<bool>({ false, true }));
}

QTEST_GUILESS_MAIN(tst_HostilePeers)
#include "tst_hostilepeers.moc"
