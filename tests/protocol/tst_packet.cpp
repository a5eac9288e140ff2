#include "packet.h"

#include <QtTest>

using namespace orvo;

namespace {

QByteArray hex(const char *text)
{
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}

std::vector<std::uint8_t> bytesOf(const QByteArray &a)
{
    return std::vector<std::uint8_t>(a.begin(), a.end());
}

// A well-formed 76-byte panel reply for the given device type and body.
QByteArray panelReply(std::uint16_t deviceType, const PanelBody &body, std::uint16_t kind = KindPanelCommand,
                      std::uint32_t magic = kMagic)
{
    std::uint8_t bytes[kPanelPacketSize] = {};
    PacketHeader h;
    h.length = 64;
    h.magic = magic;
    h.kind = kind;
    h.deviceType = deviceType;
    h.encode(bytes);
    std::copy(body.begin(), body.end(), bytes + kHeaderSize);
    return QByteArray(reinterpret_cast<const char *>(bytes), int(sizeof bytes));
}

PanelBody statusReply(std::uint8_t channel, std::uint8_t panel, std::uint8_t boardType, std::uint8_t boardAddress)
{
    PanelBody b {};
    b[0] = 9;
    b[1] = ReplyStatus;
    b[2] = channel;
    b[3] = panel;
    b[5] = StatusRunning;
    b[6] = boardType;
    b[7] = boardAddress;
    b[8] = 13;
    return b;
}

} // namespace

class tst_Packet : public QObject
{
    Q_OBJECT

private slots:
    void headerIsLittleEndian();
    void statusQueryOnTheWire();
    void requestsWithoutBody_data();
    void requestsWithoutBody();
    void renameFillsAndZeroes_data();
    void renameFillsAndZeroes();
    void programDataTakesRecordFromTxBody();
    void programDataNeverCopiesPastTheBody();
    void serviceRequest();
    void expectsReply_data();
    void expectsReply();
    void panelReplyAcceptance_data();
    void panelReplyAcceptance();
    void rejectedReplyKeepsBody();
    void replyMatching_data();
    void replyMatching();
};

void tst_Packet::headerIsLittleEndian()
{
    PacketHeader h;
    h.length = 0x01020304;
    h.kind = 0x0506;
    h.deviceType = 0xFFFF;
    std::uint8_t out[12];
    h.encode(out);
    QCOMPARE(QByteArray(reinterpret_cast<char *>(out), 12), hex("04030201 EDACEF0D 0605 FFFF"));
    const PacketHeader back = PacketHeader::decode(out);
    QCOMPARE(back.length, h.length);
    QCOMPARE(back.magic, kMagic);
    QCOMPARE(back.kind, h.kind);
    QCOMPARE(back.deviceType, h.deviceType);
}

void tst_Packet::statusQueryOnTheWire()
{
    const QByteArray packet = buildPanelRequest(0x0102, RouteBootStatus, 1, 0, 4, CmdStatusQuery, 0, 1, 0, nullptr);
    QCOMPARE(packet.size(), 76);
    QCOMPARE(packet.left(12), hex("40000000 EDACEF0D 0300 0201"));
    QCOMPARE(packet.mid(12, 8), hex("08040100 55000100"));
    QCOMPARE(packet.mid(20), QByteArray(56, '\0'));
}

void tst_Packet::requestsWithoutBody_data()
{
    QTest::addColumn<QByteArray>("packet");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("discovery probe") << buildDeviceInfoRequest(kUnknownDeviceType) << hex("00000000 EDACEF0D 0000 FFFF");
    QTest::newRow("information of a 3350 QRT") << buildDeviceInfoRequest(1) << hex("00000000 EDACEF0D 0000 0100");
    QTest::newRow("identify console") << buildIdentifyRequest(0) << hex("00000000 EDACEF0D 0200 0000");
}

void tst_Packet::requestsWithoutBody()
{
    QFETCH(QByteArray, packet);
    QFETCH(QByteArray, expected);
    QCOMPARE(packet, expected);
}

void tst_Packet::renameFillsAndZeroes_data()
{
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("sent");
    QTest::newRow("21 characters") << QByteArray("ABCDEFGHIJKLMNOPQRSTU") << QByteArray("ABCDEFGHIJKLMNOPQRSTU");
    QTest::newRow("short") << QByteArray("Studio A") << QByteArray("Studio A");
    QTest::newRow("longer than 21 is cut") << QByteArray("ABCDEFGHIJKLMNOPQRSTUVWXYZ") << QByteArray("ABCDEFGHIJKLMNOPQRSTU");
    QTest::newRow("empty") << QByteArray() << QByteArray();
}

void tst_Packet::renameFillsAndZeroes()
{
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, sent);
    const QByteArray packet = buildRenameRequest(3, name);
    QCOMPARE(packet.size(), 43);
    QCOMPARE(packet.left(12), hex("1F000000 EDACEF0D 0100 0300"));
    QCOMPARE(packet.mid(12, sent.size()), sent);
    QCOMPARE(packet.mid(12 + sent.size()), QByteArray(31 - sent.size(), '\0'));
}

void tst_Packet::programDataTakesRecordFromTxBody()
{
    PanelBody tx;
    tx.fill(0xFF);
    const std::uint8_t record[] = { 0x3C, 4, 0x10, 0x00, 0x00, 0x1D, 0x00, 0xDE, 0xAD, 0xBE, 0xEF };
    std::copy(std::begin(record), std::end(record), tx.begin() + 8);
    const QByteArray packet = buildPanelRequest(0, RouteProgramData, 2, 0, 4 + 11, 0, 0, 7, 0, &tx);
    const auto b = bytesOf(packet.mid(12));
    QCOMPARE(int(b[0]), 4 + 11 + 4); // size byte: 15 + data length
    QCOMPARE(int(b[1]), 5);
    QCOMPARE(packet.mid(20, 11), QByteArray(reinterpret_cast<const char *>(record), 11));
    // Only the record's data bytes come from txBody; the rest of the body stays zero.
    QCOMPARE(packet.mid(31), QByteArray(76 - 31, '\0'));
}

void tst_Packet::programDataNeverCopiesPastTheBody()
{
    PanelBody tx;
    tx.fill(0xAB);
    tx[9] = 200; // a length the body cannot hold
    const QByteArray packet = buildPanelRequest(0, RouteProgramData, 0, 0, 60, 0, 0, 1, 0, &tx);
    QCOMPARE(packet.size(), 76);
    QCOMPARE(packet.mid(27), QByteArray(49, char(0xAB)));
}

void tst_Packet::serviceRequest()
{
    const std::uint8_t payload[] = { 2, 1 };
    const QByteArray packet = buildServiceRequest(0, 1, 0, 2, CmdPicQuery, payload);
    QCOMPARE(packet.size(), 76);
    QCOMPARE(packet.mid(12, 8), hex("08080100 2C020201"));
    QCOMPARE(packet.mid(20), QByteArray(56, '\0'));
    // A count larger than the body is cut, never written past it.
    std::vector<std::uint8_t> big(255, 0x11);
    const QByteArray cut = buildServiceRequest(0, 0, 0, 255, CmdReset, big.data());
    QCOMPARE(cut.size(), 76);
    QCOMPARE(int(std::uint8_t(cut[12 + 5])), 58);
}

void tst_Packet::expectsReply_data()
{
    QTest::addColumn<int>("route");
    QTest::addColumn<int>("command");
    QTest::addColumn<int>("sub");
    QTest::addColumn<bool>("expects");
    QTest::newRow("status query") << 4 << 0x55 << 0 << true;
    QTest::newRow("enter boot loader") << 4 << 0xAA << 0 << false;
    QTest::newRow("erase") << 4 << 0xAA << 0x58 << true;
    QTest::newRow("program data") << 5 << 0 << 0 << true;
    QTest::newRow("leave boot loader") << 6 << 0 << 0 << false;
}

void tst_Packet::expectsReply()
{
    QFETCH(int, route);
    QFETCH(int, command);
    QFETCH(int, sub);
    QFETCH(bool, expects);
    QCOMPARE(panelRequestExpectsReply(std::uint8_t(route), std::uint8_t(command), std::uint8_t(sub)), expects);
}

void tst_Packet::panelReplyAcceptance_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<int>("requestType");
    QTest::addColumn<bool>("accepted");
    const PanelBody body = statusReply(1, 0, 1, 0);
    QTest::newRow("same type") << panelReply(0, body) << 0 << true;
    QTest::newRow("other type") << panelReply(1, body) << 0 << false;
    QTest::newRow("request type 5 takes type 4") << panelReply(4, body) << 5 << true;
    QTest::newRow("request type 5 refuses type 5") << panelReply(5, body) << 5 << false;
    QTest::newRow("kind 0") << panelReply(0, body, KindDeviceInfo) << 0 << false;
    QTest::newRow("wrong magic") << panelReply(0, body, KindPanelCommand, 0x0DEFACEE) << 0 << false;
    QTest::newRow("75 bytes") << panelReply(0, body).left(75) << 0 << false;
    QTest::newRow("77 bytes") << panelReply(0, body) + '\0' << 0 << false;
}

void tst_Packet::panelReplyAcceptance()
{
    QFETCH(QByteArray, reply);
    QFETCH(int, requestType);
    QFETCH(bool, accepted);
    PanelBody body;
    body.fill(0xFF);
    const auto data = bytesOf(reply);
    QCOMPARE(acceptPanelReply(data.data(), data.size(), std::uint16_t(requestType), body), accepted);
    if (accepted)
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(body.data()), 64), reply.mid(12));
}

void tst_Packet::rejectedReplyKeepsBody()
{
    PanelBody body;
    body.fill(0x42);
    const auto data = bytesOf(panelReply(0, statusReply(0, 0, 1, 0), KindDeviceInfo));
    QVERIFY(!acceptPanelReply(data.data(), data.size(), 0, body));
    PanelBody expected;
    expected.fill(0x42);
    QCOMPARE(body, expected);
}

void tst_Packet::replyMatching_data()
{
    QTest::addColumn<int>("byteToChange");
    QTest::addColumn<bool>("matches");
    QTest::newRow("exact echo") << -1 << true;
    QTest::newRow("size zero") << 0 << false;
    QTest::newRow("other reply code") << 1 << false;
    QTest::newRow("other channel") << 2 << false;
    QTest::newRow("other panel") << 3 << false;
    QTest::newRow("command not interpreted") << 4 << true;
    QTest::newRow("status not compared") << 5 << true;
    QTest::newRow("other board type") << 6 << false;
    QTest::newRow("other board address") << 7 << false;
}

void tst_Packet::replyMatching()
{
    QFETCH(int, byteToChange);
    QFETCH(bool, matches);
    PanelBody body = statusReply(1, 0, 2, 1);
    if (byteToChange == 0)
        body[0] = 0;
    else if (byteToChange > 0)
        body[std::size_t(byteToChange)] ^= 0x10;
    QCOMPARE(replyMatches(body, ReplyStatus, 1, 0, 2, 1), matches);
}

QTEST_GUILESS_MAIN(tst_Packet)
#include "tst_packet.moc"
