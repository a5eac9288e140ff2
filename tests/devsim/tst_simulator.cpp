#include "bytes.h"
#include "catalogue.h"
#include "packet.h"
#include "simulator.h"

#include <QTcpSocket>
#include <QtTest>

using namespace orvo::devsim;

// What the integration tests cannot see of the simulator: that it flags every malformed request
// (their check for violations relies on it) and which requests a fault applies to. Each
// malformed request is a sound one, as the program builds it, with one field broken by hand.

namespace {

constexpr double kSpeedUp = 1000.0;

// Every simulator of this program gets its own loopback address, so that rows and parallel test
// programs never share an endpoint.
QString nextAddress()
{
    static int n = 0;
    ++n;
    return QStringLiteral("127.77.%1.%2").arg(n / 250).arg(n % 250 + 2);
}

constexpr std::uint8_t kChannelMaster = 1; // board type of console position 4
constexpr std::uint8_t kAudioBoard = 2;    // board type of console position 10

QByteArray statusQuery(std::uint8_t boardType = kChannelMaster)
{
    return orvo::buildPanelRequest(0, orvo::statusQueryRequest({ 0, 0, boardType, 0 }));
}

// A HEX program-data record of `data` to 0x1D000000 for the audio board, with its checksum.
QByteArray programData(const QByteArray &data)
{
    orvo::PanelBody tx {};
    tx[9] = static_cast<std::uint8_t>(data.size());
    orvo::putU32le(tx.data() + 10, 0x1D000000);
    std::copy(data.begin(), data.end(), tx.begin() + 15);
    unsigned sum = 0;
    for (int i = 9; i < 15 + data.size(); ++i)
        sum += tx[std::size_t(i)];
    tx[8] = static_cast<std::uint8_t>(sum & 0xFF);
    return orvo::buildPanelRequest(0, orvo::programDataRequest({ 0, 0, kAudioBoard, 0 }, tx));
}

struct Result
{
    bool connected = false;
    bool closedByDevice = false;
    QByteArray reply;
};

Result exchange(const QString &address, std::uint16_t port, const QByteArray &request)
{
    Result r;
    QTcpSocket socket;
    socket.connectToHost(address, port);
    if (!socket.waitForConnected(5000))
        return r;
    r.connected = true;
    socket.write(request);
    socket.waitForBytesWritten(5000);
    for (int guard = 0; guard < 200 && socket.state() == QAbstractSocket::ConnectedState; ++guard) {
        if (!socket.waitForReadyRead(5000))
            break;
        r.reply += socket.readAll();
    }
    r.reply += socket.readAll();
    r.closedByDevice = socket.state() != QAbstractSocket::ConnectedState;
    return r;
}

} // namespace

class tst_Simulator : public QObject
{
    Q_OBJECT

private slots:
    void violations_data();
    void violations();
    void faultWindowCountsPerBoard();
};

void tst_Simulator::violations_data()
{
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QString>("what");
    using namespace orvo;
    const QByteArray q = statusQuery();
    const QByteArray picQuery = buildServiceRequest(0, { 0, 0, kChannelMaster, 0 }, ServiceCommand::PicQuery);
    const QByteArray record = programData(QByteArray::fromHex("01020304"));
    const QByteArray rename = buildRenameRequest(0, "ab");
    const auto with = [](QByteArray b, int at, int value) {
        b[at] = static_cast<char>(value);
        return b;
    };
    QTest::newRow("magic") << with(q, 4, 0xEE) << "magic";
    QTest::newRow("unknown kind") << with(buildIdentifyRequest(0), 8, 7) << "unknown kind";
    QTest::newRow("header length of a panel command") << with(q, 0, 63) << "header length";
    QTest::newRow("device type") << with(q, 10, 2) << "device type";
    QTest::newRow("open type on a panel command") << with(with(q, 10, 0xFF), 11, 0xFF) << "device type";
    QTest::newRow("size byte") << with(q, 12, 9) << "size byte";
    QTest::newRow("unknown route") << with(q, 13, 7) << "unknown route";
    QTest::newRow("unknown command") << with(q, 16, 0x56) << "unknown command";
    QTest::newRow("leave with command") << with(
        buildPanelRequest(0, leaveBootLoaderRequest({ 0, 0, kChannelMaster, 0 })), 16, 1)
                                        << "route 6";
    QTest::newRow("stray byte in the payload") << with(q, 40, 1) << "expected 0";
    QTest::newRow("route 8 unknown command") << with(picQuery, 16, 0x2D) << "unknown command";
    QTest::newRow("data length 50") << with(with(record, 21, 50), 12, 65) << "above 49";
    QTest::newRow("HEX length 3 unpadded")
        << with(programData(QByteArray::fromHex("010203")), 12, 15 + 3) << "multiple of 4";
    QTest::newRow("HEX record type") << with(record, 26, 4) << "record type";
    QTest::newRow("bytes after the data") << with(record, 40, 1) << "expected 0";
    QTest::newRow("rename to 22 characters")
        << with(buildRenameRequest(0, QByteArray(21, 'a')), 33, 'a') << "at most 21";
    QTest::newRow("rename without name") << buildRenameRequest(0, QByteArray()) << "empty name";
    QTest::newRow("rename with bytes after the name") << with(rename, 15, 'c') << "expected 0";
    QTest::newRow("extra bytes") << q + QByteArray(4, '\0') << "more bytes";
}

void tst_Simulator::violations()
{
    QFETCH(QByteArray, request);
    QFETCH(QString, what);
    DeviceConfig c = defaultDevice(orvo::Console6170, nextAddress());
    c.boards[10].state = BoardState::Erased;
    Simulator sim(kSpeedUp);
    sim.addDevice(c);
    QString error;
    QVERIFY2(sim.start(0, &error), qPrintable(error));
    const Result r = exchange(c.address, sim.port(0), request);
    QVERIFY(r.connected);
    QVERIFY(r.closedByDevice);
    QVERIFY(r.reply.isEmpty());
    const QList<Violation> v = sim.violations();
    QCOMPARE(v.size(), 1);
    QVERIFY2(v[0].what.contains(what), qPrintable(v[0].what));
    QVERIFY(request.startsWith(v[0].bytes));
    QCOMPARE(v[0].device, c.address);

    // The device goes on serving sound requests.
    QCOMPARE(exchange(c.address, sim.port(0), statusQuery()).reply.size(), 76);
}

void tst_Simulator::faultWindowCountsPerBoard()
{
    const DeviceConfig c = defaultDevice(orvo::Console6170, nextAddress());
    Simulator sim(kSpeedUp);
    sim.addDevice(c);
    QVERIFY(sim.start());
    const auto answered
        = [&](const QByteArray &request) { return !exchange(c.address, sim.port(0), request).reply.isEmpty(); };
    // The channel master (position 4) fails its 3rd and 4th request.
    sim.addFault(0, { FaultKind::NeverAnswer, 4, 3, 2, 0 });

    // Requests to another board do not move the window of this board's fault.
    for (int i = 0; i < 3; ++i)
        QVERIFY(answered(statusQuery(kAudioBoard)));
    QList<bool> got;
    for (int i = 1; i <= 5; ++i)
        got << answered(statusQuery());
    QCOMPARE(got, (QList<bool> { true, true, false, false, true }));

    // A device-wide fault counts every request to the device.
    sim.addFault(0, { FaultKind::NeverAnswer, -1, sim.snapshot(0).requests + 2, 1, 0 });
    QVERIFY(answered(orvo::buildDeviceInfoRequest(orvo::kUnknownDeviceType)));
    QVERIFY(!answered(statusQuery(kAudioBoard)));
    QVERIFY(answered(statusQuery(kAudioBoard)));
    QVERIFY(sim.violations().isEmpty());
}

QTEST_GUILESS_MAIN(tst_Simulator)
#include "tst_simulator.moc"
