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
    void requestsOnTheWire_data();
    void requestsOnTheWire();
    void neverCopiesPastTheBody();
    void panelReplyAcceptance_data();
    void panelReplyAcceptance();
    void replyMatching_data();
    void replyMatching();
};

void tst_Packet::requestsOnTheWire_data()
{
    QTest::addColumn<QByteArray>("packet");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("discovery probe") << buildDeviceInfoRequest(kUnknownDeviceType)
                                     << hex("00000000 EDACEF0D 0000 FFFF");
    QTest::newRow("information of a 3350 QRT") << buildDeviceInfoRequest(1) << hex("00000000 EDACEF0D 0000 0100");
    QTest::newRow("identify console") << buildIdentifyRequest(0) << hex("00000000 EDACEF0D 0200 0000");
    QTest::newRow("status query") << buildPanelRequest(0x0102, statusQueryRequest({ 0, 1, 1, 0 }))
                                  << hex("40000000 EDACEF0D 0300 0201 08040100 55000100") + QByteArray(56, '\0');
    QTest::newRow("PIC query") << buildServiceRequest(0, { 0, 1, 2, 1 }, ServiceCommand::PicQuery)
                               << hex("40000000 EDACEF0D 0300 0000 08080100 2C020201") + QByteArray(56, '\0');
    QTest::newRow("reset") << buildServiceRequest(0, { 2, 0, 1, 0 }, ServiceCommand::Reset)
                           << hex("40000000 EDACEF0D 0300 0000 08080002 02020100") + QByteArray(56, '\0');
    // The size byte counts the record bytes 8..14 and the data; nothing past the data goes out.
    PanelBody record;
    record.fill(0xEE);
    const QByteArray recordBytes = hex("5A 04 0000001D 00 01020304");
    std::copy(recordBytes.begin(), recordBytes.end(), record.begin() + 8);
    QTest::newRow("program data") << buildPanelRequest(0, programDataRequest({ 0, 1, 2, 1 }, record))
                                  << hex("40000000 EDACEF0D 0300 0000 13050100 00000201 5A040000 001D0001 020304")
            + QByteArray(45, '\0');
}

void tst_Packet::requestsOnTheWire()
{
    QFETCH(QByteArray, packet);
    QFETCH(QByteArray, expected);
    QCOMPARE(packet, expected);
}

void tst_Packet::neverCopiesPastTheBody()
{
    PanelBody tx;
    tx.fill(0xAB);
    tx[9] = 200; // a length the body cannot hold
    const QByteArray packet = buildPanelRequest(0, programDataRequest({ 0, 0, 1, 0 }, tx));
    QCOMPARE(packet.size(), 76);
    QCOMPARE(packet.mid(27), QByteArray(49, char(0xAB)));
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
    // A refused reply leaves the last accepted one in place.
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(body.data()), 64),
        accepted ? reply.mid(12) : QByteArray(64, char(0xFF)));
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
    QCOMPARE(replyMatches(body, ReplyStatus, PanelSlot { 0, 1, 2, 1 }), matches);
}

QTEST_GUILESS_MAIN(tst_Packet)
#include "tst_packet.moc"
