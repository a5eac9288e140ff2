#include "devsimclient.h"
#include "protocol/catalogue.h"
#include "simulator.h"
#include "wire.h"

#include <QHostAddress>
#include <QtTest>

#include <memory>

using namespace orvo::devsim;
using namespace devsimtest;

Q_DECLARE_METATYPE(orvo::devsim::FaultKind)

namespace {

// Restarts of 2000 ms take 2 ms; delays given in simulator ms shrink alike.
constexpr double kSpeedUp = 1000.0;
constexpr int kNoReplyWaitMs = 300; // how long a test listens for a reply that must not come

// Every simulator of this program gets its own loopback address, so that rows and parallel test
// programs never share an endpoint (the port is a free one as well).
QString nextAddress()
{
    static int n = 0;
    ++n;
    return QStringLiteral("127.77.%1.%2").arg(n / 250).arg(n % 250 + 2);
}

// Catalogue slots used below.
const Slot kConsoleChannelMaster { 0, 0, 1, 0 };    // position 4
const Slot kConsoleAudioBoard { 0, 0, 2, 0 };       // position 10
const Slot kConsoleAudioBoard2 { 0, 0, 2, 1 };      // position 11

// Checks a 76-byte panel reply: header, reply code and the echo of the address.
bool isReply(const QByteArray &r, std::uint16_t type, char code, const Slot &s)
{
    return r.size() == 76 && get32(r, 0) == 64 && get32(r, 4) == 0x0DEFACED && get16(r, 8) == 3 && get16(r, 10) == type
        && byteAt(r, 12) != 0 && r.at(13) == code && byteAt(r, 14) == s.channel && byteAt(r, 15) == s.panel
        && byteAt(r, 18) == s.boardType && byteAt(r, 19) == s.boardAddress;
}

/// One simulated device on its own address.
struct Device
{
    explicit Device(const DeviceConfig &config) : sim(kSpeedUp)
    {
        DeviceConfig c = config;
        address = c.address;
        type = static_cast<std::uint16_t>(c.type);
        id = sim.addDevice(c);
        QString error;
        started = sim.start(0, &error);
        if (!started)
            qWarning("start failed: %s", qPrintable(error));
        port = sim.port(id);
    }
    static DeviceConfig config(int type) { return defaultDevice(type, nextAddress()); }

    Result send(const QByteArray &request, int waitMs = 5000) { return exchange(address, port, request, waitMs); }
    /// A panel request's reply as "<reply code><status byte> <byte 8>" ("jW 13"), "-" when no
    /// proper reply to the board `s` came.
    QString answer(const QByteArray &request, const Slot &s)
    {
        const QByteArray r = send(request).reply;
        if (r.size() < 76 || !isReply(r, type, r.at(13), s))
            return QStringLiteral("-");
        return QStringLiteral("%1%2 %3").arg(QLatin1Char(r.at(13))).arg(QLatin1Char(r.at(17))).arg(byteAt(r, 20));
    }
    QString status(const Slot &s) { return answer(statusQuery(type, s), s); }
    /// True when the device read `request` and closed the connection without a reply.
    bool silent(const QByteArray &request)
    {
        const Result r = send(request);
        return r.connected && r.peerClosed && r.reply.isEmpty();
    }
    int fault(FaultKind kind, int position = -1, int param = 0, int startAt = 1, int count = -1)
    {
        return sim.addFault(id, { kind, position, startAt, count, param });
    }
    BoardSnapshot board(int position) { return sim.snapshot(id).boards[static_cast<std::size_t>(position)]; }
    bool idle(int position) { return !board(position).restarting; }

    Simulator sim;
    QString address;
    std::uint16_t type = 0;
    std::uint16_t port = 0;
    int id = -1;
    bool started = false;
};

QByteArray bytes(std::initializer_list<int> list)
{
    QByteArray b;
    for (int v : list)
        b.append(static_cast<char>(v));
    return b;
}

} // namespace

class tst_Simulator : public QObject
{
    Q_OBJECT

private slots:
    void violations_data();
    void violations();
    void replyFaults_data();
    void replyFaults();
    void acceptNoAnswer();
    void faultWindowCountsPerBoard();
    void checksumRefusals();
    void eraseNeverConfirmed();
    void afterLeaveFaults_data();
    void afterLeaveFaults();
    void discoveryType5();
    void refuseConnections_data();
    void refuseConnections();
};

void tst_Simulator::violations_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QString>("what");
    const std::uint16_t t = 0;
    const QByteArray q = statusQuery(t, kConsoleChannelMaster);
    const auto with = [](QByteArray b, int at, int value) {
        b[at] = static_cast<char>(value);
        return b;
    };
    QTest::newRow("magic") << with(q, 4, 0xEE) << "magic";
    QTest::newRow("unknown kind") << header(0, 7, t) << "unknown kind";
    QTest::newRow("header length of a panel command") << with(q, 0, 63) << "header length";
    QTest::newRow("header length of an identify") << with(header(0, 2, t), 0, 4) << "header length";
    QTest::newRow("device type") << with(q, 10, 2) << "device type";
    QTest::newRow("open type on a panel command") << with(with(q, 10, 0xFF), 11, 0xFF) << "device type";
    QTest::newRow("open type on a rename") << header(31, 1, 0xFFFF) + QByteArray("x") + QByteArray(30, '\0')
                                           << "device type";
    QTest::newRow("size byte") << with(q, 12, 9) << "size byte";
    QTest::newRow("unknown route") << with(q, 13, 7) << "unknown route";
    QTest::newRow("unknown command") << with(q, 16, 0x56) << "unknown command";
    QTest::newRow("status query with sub-command") << with(q, 17, 0x58) << "unknown command";
    QTest::newRow("leave with command") << with(leaveBootLoader(t, kConsoleChannelMaster), 16, 1) << "route 6";
    QTest::newRow("stray byte in the payload") << with(q, 40, 1) << "expected 0";
    QTest::newRow("route 8 count") << with(with(picQuery(t, kConsoleChannelMaster), 17, 1), 12, 7) << "payload count";
    QTest::newRow("route 8 size") << with(picQuery(t, kConsoleChannelMaster), 12, 9) << "size byte";
    QTest::newRow("route 8 unknown command") << with(picQuery(t, kConsoleChannelMaster), 16, 0x2D) << "unknown command";
    const QByteArray record = programData(t, kConsoleAudioBoard, bytes({ 1, 2, 3, 4 }), 0x1D000000, false);
    QTest::newRow("data length 50") << with(with(record, 21, 50), 12, 65) << "above 49";
    QTest::newRow("record size byte") << with(record, 12, 20) << "size byte";
    QTest::newRow("HEX length 3 unpadded")
        << programData(t, kConsoleAudioBoard, bytes({ 1, 2, 3 }), 0x1D000000, false) << "multiple of 4";
    QTest::newRow("HEX record type") << with(record, 26, 4) << "record type";
    QTest::newRow("bytes after the data") << with(record, 40, 1) << "expected 0";
    QTest::newRow("rename to 22 characters") << header(31, 1, t) + QByteArray(22, 'a') + QByteArray(9, '\0')
                                             << "at most 21";
    QTest::newRow("rename without name") << header(31, 1, t) + QByteArray(31, '\0') << "empty name";
    QTest::newRow("rename with bytes after the name")
        << header(31, 1, t) + QByteArray("ab\0c", 4) + QByteArray(27, '\0') << "expected 0";
    QTest::newRow("extra bytes") << q + QByteArray(4, '\0') << "more bytes";
}

void tst_Simulator::violations()
{
    QFETCH(QByteArray, request);
    QFETCH(QString, what);
    DeviceConfig c = Device::config(orvo::Console6170);
    c.boards[10].state = BoardState::Erased;
    Device d(c);
    QVERIFY(d.started);
    const Result r = d.send(request);
    QVERIFY(r.connected);
    QVERIFY(r.peerClosed);
    QVERIFY(r.reply.isEmpty());
    const QList<Violation> v = d.sim.violations();
    QCOMPARE(v.size(), 1);
    QVERIFY2(v[0].what.contains(what), qPrintable(v[0].what));
    QVERIFY(request.startsWith(v[0].bytes));
    QCOMPARE(v[0].device, d.address);

    // The device goes on serving sound requests.
    QVERIFY(isReply(d.send(statusQuery(d.type, kConsoleChannelMaster)).reply, d.type, 'j', kConsoleChannelMaster));
}

void tst_Simulator::replyFaults_data()
{
    QTest::addColumn<FaultKind>("kind");
    QTest::addColumn<int>("param");
    QTest::addColumn<int>("replySize"); // -1: no reply at all
    QTest::addColumn<int>("offset");    // reply byte to look at, -1: none
    QTest::addColumn<int>("value");
    QTest::newRow("never answers") << FaultKind::NeverAnswer << 0 << -1 << -1 << 0;
    QTest::newRow("wrong reply code") << FaultKind::WrongReplyCode << 0 << 76 << 13 << int('k');
    QTest::newRow("wrong reply code given") << FaultKind::WrongReplyCode << int('o') << 76 << 13 << int('o');
    QTest::newRow("wrong echo of channel") << FaultKind::WrongEcho << 2 << 76 << 14 << 1;
    QTest::newRow("wrong echo of panel") << FaultKind::WrongEcho << 3 << 76 << 15 << 1;
    QTest::newRow("wrong echo of board type") << FaultKind::WrongEcho << 6 << 76 << 18 << 3;
    QTest::newRow("wrong echo of board address") << FaultKind::WrongEcho << 7 << 76 << 19 << 1;
    QTest::newRow("short reply") << FaultKind::WrongLength << 75 << 75 << -1 << 0;
    QTest::newRow("long reply") << FaultKind::WrongLength << 100 << 100 << 99 << 0;
    QTest::newRow("wrong kind") << FaultKind::WrongKind << 0 << 76 << 8 << 0;
    QTest::newRow("wrong device type") << FaultKind::WrongDeviceType << 4 << 76 << 10 << 4;
    QTest::newRow("delayed reply") << FaultKind::DelayReply << 50000 << 76 << 13 << int('j');
    QTest::newRow("split reply") << FaultKind::SplitReply << 100000 << 76 << 13 << int('j');
}

void tst_Simulator::replyFaults()
{
    QFETCH(FaultKind, kind);
    QFETCH(int, param);
    QFETCH(int, replySize);
    QFETCH(int, offset);
    QFETCH(int, value);
    Device d(Device::config(orvo::Console6170));
    QVERIFY(d.started);
    QVERIFY(d.fault(kind, 10, param) > 0);

    const Result r = d.send(statusQuery(d.type, kConsoleAudioBoard));
    QVERIFY(r.connected);
    QVERIFY(r.peerClosed);
    if (replySize < 0) {
        QVERIFY(r.reply.isEmpty());
    } else {
        QCOMPARE(r.reply.size(), replySize);
        if (offset >= 0)
            QCOMPARE(int(byteAt(r.reply, offset)), value);
    }
    if (kind == FaultKind::SplitReply) {
        // 100 s of simulator time is 100 ms here: the first part arrives alone.
        QCOMPARE(r.segments.value(0), 40);
        QCOMPARE(r.reply.size(), 76);
    }
    // Other boards are not touched by a board's fault.
    QVERIFY(isReply(d.send(statusQuery(d.type, kConsoleAudioBoard2)).reply, d.type, 'j', kConsoleAudioBoard2));
    QVERIFY(d.sim.violations().isEmpty());
}

void tst_Simulator::acceptNoAnswer()
{
    Device d(Device::config(orvo::LumivoxKvr10));
    QVERIFY(d.started);
    d.fault(FaultKind::AcceptNoAnswer);
    const Result r = d.send(header(0, 0, 0xFFFF), kNoReplyWaitMs);
    QVERIFY(r.connected);
    QVERIFY(!r.peerClosed); // still held open when the client gives up
    QVERIFY(r.reply.isEmpty());
}

void tst_Simulator::faultWindowCountsPerBoard()
{
    Device d(Device::config(orvo::Console6170));
    QVERIFY(d.started);
    d.fault(FaultKind::NeverAnswer, 10, 0, 3, 2);

    // Requests to another board do not move the window of this board's fault.
    for (int i = 0; i < 3; ++i)
        QVERIFY(!d.send(statusQuery(d.type, kConsoleAudioBoard2)).reply.isEmpty());
    QList<bool> answered;
    for (int i = 1; i <= 5; ++i)
        answered << !d.send(statusQuery(d.type, kConsoleAudioBoard)).reply.isEmpty();
    QCOMPARE(answered, (QList<bool> { true, true, false, false, true }));

    // A device-wide fault counts every request to the device.
    d.fault(FaultKind::NeverAnswer, -1, 0, d.sim.snapshot(d.id).requests + 2, 1);
    QVERIFY(!d.send(header(0, 0, 0xFFFF)).reply.isEmpty());
    QVERIFY(d.send(statusQuery(d.type, kConsoleAudioBoard2)).reply.isEmpty());
    QVERIFY(!d.send(statusQuery(d.type, kConsoleAudioBoard2)).reply.isEmpty());
}

void tst_Simulator::checksumRefusals()
{
    DeviceConfig c = Device::config(orvo::Console6170);
    c.boards[10].state = BoardState::Erased;
    Device d(c);
    QVERIFY(d.started);
    d.fault(FaultKind::ChecksumRefusals, 10, 2);
    const QByteArray record = programData(d.type, kConsoleAudioBoard, bytes({ 9, 8, 7, 6 }), 0x1D000100, false);
    QString codes;
    for (int i = 0; i < 4; ++i)
        codes += d.answer(record, kConsoleAudioBoard).left(1);
    QCOMPARE(codes, QStringLiteral("mmkk"));
    QCOMPARE(d.board(10).checksumErrors, 2);
    QCOMPARE(d.board(10).recordsAccepted, 2);
    QCOMPARE(int(d.board(10).hexImage.size()), 4);
}

void tst_Simulator::eraseNeverConfirmed()
{
    DeviceConfig c = Device::config(orvo::Console6170);
    c.boards[10].state = BoardState::BootLoader;
    Device d(c);
    QVERIFY(d.started);
    d.fault(FaultKind::EraseNeverConfirmed, 10);
    for (int i = 0; i < 3; ++i)
        QVERIFY(d.answer(erase(d.type, kConsoleAudioBoard), kConsoleAudioBoard).startsWith(QLatin1String("jV")));
    QCOMPARE(d.board(10).erases, 0);
    QCOMPARE(d.board(10).state, BoardState::BootLoader);
}

void tst_Simulator::afterLeaveFaults_data()
{
    QTest::addColumn<FaultKind>("kind");
    QTest::addColumn<QString>("status");
    QTest::newRow("stays in its boot loader") << FaultKind::StayInBootLoader << "jV 3";
    QTest::newRow("version 0 after the image") << FaultKind::VersionZeroAfterImage << "jW 0";
}

void tst_Simulator::afterLeaveFaults()
{
    QFETCH(FaultKind, kind);
    QFETCH(QString, status);
    DeviceConfig c = Device::config(orvo::Console6170);
    c.boards[4].version = 3;
    c.boards[4].state = BoardState::BootLoader;
    Device d(c);
    QVERIFY(d.started);
    d.fault(kind, 4);

    const Slot s = kConsoleChannelMaster;
    QVERIFY(d.answer(erase(d.type, s), s).startsWith(QLatin1String("jY")));
    QVERIFY(d.answer(programData(d.type, s, QByteArray(16, 'x'), 0x1D000000, false), s).startsWith(QLatin1Char('k')));
    QVERIFY(d.silent(leaveBootLoader(d.type, s)));
    QTRY_VERIFY(d.idle(4));
    QCOMPARE(d.status(s), status);
}

void tst_Simulator::discoveryType5()
{
    Device d(Device::config(orvo::LumivoxKvr30));
    QVERIFY(d.started);
    d.fault(FaultKind::DiscoveryType5);
    const Result r = d.send(header(0, 0, 0xFFFF));
    QCOMPARE(r.reply.size(), 123);
    QCOMPARE(get16(r.reply, 10), std::uint16_t(5));
    QCOMPARE(get32(r.reply, 12), 4u);
}

void tst_Simulator::refuseConnections_data()
{
    QTest::addColumn<FaultKind>("kind");
    QTest::newRow("refuses connections") << FaultKind::RefuseConnections;
    QTest::newRow("vanishes") << FaultKind::Vanish;
}

void tst_Simulator::refuseConnections()
{
    QFETCH(FaultKind, kind);
    Device d(Device::config(orvo::LumivoxKvr10));
    QVERIFY(d.started);
    const int id = d.fault(kind, -1, 0, 2); // the first request is still served, its reply included
    QCOMPARE(d.send(header(0, 0, 0xFFFF)).reply.size(), 123);
    QTRY_VERIFY(!d.sim.snapshot(d.id).listening);
    QVERIFY(!d.send(header(0, 0, 0xFFFF)).connected);
    d.sim.removeFault(id);
    QTRY_VERIFY(d.sim.snapshot(d.id).listening);
    QCOMPARE(d.send(header(0, 0, 0xFFFF)).reply.size(), 123);
}


QTEST_GUILESS_MAIN(tst_Simulator)
#include "tst_simulator.moc"
