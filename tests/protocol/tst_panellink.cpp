#include "catalogue.h"
#include "clock.h"
#include "debugcapture.h"
#include "loopbackpeers.h"
#include "panellink.h"
#include "simulator.h"

#include <QTcpSocket>
#include <QtTest>

#include <atomic>
#include <memory>
#include <vector>

using namespace orvo;
namespace sim = orvo::devsim;

namespace {

const QString kDeviceAddress = QStringLiteral("127.0.0.2");

// "Channel AudioBoard 13-16" of the console: panel 0, channel 1, board type 2, board address 1.
const PanelSlot kAudioBoard { 0, 1, 2, 1 };

int audioBoardPosition()
{
    return findPanelIndex(Console6170, kAudioBoard).value_or(-1);
}

/// A scaled clock that counts its sleeps, to tell how many 1 ms polls an exchange made.
class CountingClock final : public Clock
{
public:
    time_point now() const override { return m_inner.now(); }
    void sleepUntil(time_point deadline) override
    {
        ++sleeps;
        m_inner.sleepUntil(deadline);
    }
    int socketWaitMs(int ms) const override { return m_inner.socketWaitMs(ms); }
    std::atomic<int> sleeps { 0 };

private:
    ScaledClock m_inner { 1000 };
};

QByteArray panelReply(std::uint16_t deviceType, const PanelSlot &slot, std::uint8_t code, std::uint8_t status,
                      std::uint8_t byte8)
{
    QByteArray r(int(kPanelPacketSize), '\0');
    auto *p = reinterpret_cast<std::uint8_t *>(r.data());
    PacketHeader h;
    h.length = kBodySize;
    h.kind = KindPanelCommand;
    h.deviceType = deviceType;
    h.encode(p);
    p[12 + BodySize] = 9;
    p[12 + BodyRoute] = code;
    p[12 + BodyChannel] = slot.channel;
    p[12 + BodyPanel] = slot.panel;
    p[12 + BodyCommand] = CmdStatusQuery;
    p[12 + BodySubCommand] = status;
    p[12 + BodyBoardType] = slot.boardType;
    p[12 + BodyBoardAddress] = slot.boardAddress;
    p[12 + BodyPayload] = byte8;
    return r;
}

} // namespace

Q_DECLARE_METATYPE(sim::FaultKind)

class tst_PanelLink : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void statusQueryOfARunningBoard();
    void statusQueryOfABoardInItsBootLoader();
    void statusQueryAgainstFaults_data();
    void statusQueryAgainstFaults();
    void aFailedExchangeLeavesNothingForTheNext_data();
    void aFailedExchangeLeavesNothingForTheNext();
    void anAbortedConnectLeavesNothingForTheNext();
    void addressOutsideTheCatalogueWritesNoLine();
    void replyDeviceTypeRule_data();
    void replyDeviceTypeRule();
    void noReplyCommandsAreTrueOnceWritten_data();
    void noReplyCommandsAreTrueOnceWritten();
    void pollsAfterAShortOrMissingReply_data();
    void pollsAfterAShortOrMissingReply();
    void refusedConnectionIsFalse();
    void abortDuringTheConnectWaitEndsAtTheNextPoll();
    void abortDuringTheReplyWaitEndsAtTheNextPoll();
    void programDataCarriesTheRecordOfTxBody();
    void picQuery_data();
    void picQuery();
    void serviceQueryToADeviceThatClosesIsFalse();
    void deviceRequests();

private:
    void startSimulator(const sim::DeviceConfig &config);
    PanelLink &link() { return *m_link; }
    bool query(bool &bootMode, std::uint8_t &version, std::uint8_t &boardType);

    std::unique_ptr<sim::Simulator> m_sim;
    std::unique_ptr<ScaledClock> m_clock;
    std::unique_ptr<PanelLink> m_link;
    std::atomic<bool> m_abort { false };
    std::unique_ptr<test::DebugCapture> m_debug;
};

void tst_PanelLink::init()
{
    m_abort = false;
    m_clock = std::make_unique<ScaledClock>(1000);
    m_link = std::make_unique<PanelLink>(*m_clock, [this] { return m_abort.load(); });
    m_debug = std::make_unique<test::DebugCapture>();
    startSimulator(sim::defaultDevice(Console6170, kDeviceAddress));
}

void tst_PanelLink::cleanup()
{
    // No test here sends a malformed request on purpose.
    if (m_sim) {
        const auto violations = m_sim->violations();
        for (const auto &v : violations)
            qWarning() << "violation:" << v.device << v.what << v.bytes.toHex();
        QVERIFY(violations.isEmpty());
    }
    m_link.reset();
    m_sim.reset();
    m_debug.reset();
}

void tst_PanelLink::startSimulator(const sim::DeviceConfig &config)
{
    m_sim = std::make_unique<sim::Simulator>(1.0);
    m_sim->addDevice(config);
    QString error;
    QVERIFY2(m_sim->start(0, &error), qPrintable(error));
    DeviceTarget target;
    target.host = config.address;
    target.port = m_sim->port(0);
    target.headerDeviceType = static_cast<std::uint16_t>(config.type & 0xFFFF);
    link().setTarget(target);
    link().setCatalogueType(static_cast<int>(config.type));
}

bool tst_PanelLink::query(bool &bootMode, std::uint8_t &version, std::uint8_t &boardType)
{
    boardType = kAudioBoard.boardType;
    return link().checkPanel(bootMode, version, kAudioBoard.panel, kAudioBoard.channel, boardType,
                             kAudioBoard.boardAddress);
}

void tst_PanelLink::statusQueryOfARunningBoard()
{
    bool bootMode = true;
    std::uint8_t version = 0xEE, boardType = 0;
    QVERIFY(query(bootMode, version, boardType));
    QVERIFY(!bootMode);
    QCOMPARE(version, buildVersion(Console6170, kAudioBoard.boardType));
    QCOMPARE(boardType, kAudioBoard.boardType);
    QCOMPARE(m_sim->snapshot(0).boards[audioBoardPosition()].statusQueries, 1);
}

void tst_PanelLink::statusQueryOfABoardInItsBootLoader()
{
    sim::BoardConfig board;
    board.fitted = true;
    board.state = sim::BoardState::BootLoader;
    board.version = 9;
    m_sim->setBoard(0, audioBoardPosition(), board);

    bool bootMode = false;
    std::uint8_t version = 0, boardType = 0;
    QVERIFY(query(bootMode, version, boardType));
    QVERIFY(bootMode);
    QCOMPARE(version, std::uint8_t(9));
}

void tst_PanelLink::statusQueryAgainstFaults_data()
{
    QTest::addColumn<sim::FaultKind>("fault");
    QTest::addColumn<int>("param");
    QTest::addColumn<bool>("found");
    QTest::addColumn<QString>("resultText"); // what the debug line ends with

    const QString found = QStringLiteral(" Panel Found: 1  BootMode: 0");
    const QString notFound = QStringLiteral(" Panel Not Found !");
    // Refused replies: the exchange itself is false and the reply buffer untouched. Which header,
    // length and echo a reply must have is the packet tests'; here, what the transport does with them.
    QTest::newRow("wrong kind") << sim::FaultKind::WrongKind << 0 << false << QString();
    QTest::newRow("short reply, closed") << sim::FaultKind::WrongLength << 40 << false << QString();
    QTest::newRow("reply of 80 bytes") << sim::FaultKind::WrongLength << 80 << false << QString();
    QTest::newRow("never answers, closes") << sim::FaultKind::NeverAnswer << 0 << false << QString();
    QTest::newRow("never answers, holds") << sim::FaultKind::AcceptNoAnswer << 0 << false << QString();
    // Accepted replies that answer for another board or with another code.
    QTest::newRow("wrong echo: board address") << sim::FaultKind::WrongEcho << 7 << false << notFound;
    QTest::newRow("wrong reply code") << sim::FaultKind::WrongReplyCode << 0 << false << notFound;
    // Slow and split replies that still come whole within the reply wait.
    QTest::newRow("split 40 + 36") << sim::FaultKind::SplitReply << 30 << true << found;
    QTest::newRow("delayed") << sim::FaultKind::DelayReply << 50 << true << found;
}

void tst_PanelLink::statusQueryAgainstFaults()
{
    QFETCH(sim::FaultKind, fault);
    QFETCH(int, param);
    QFETCH(bool, found);
    QFETCH(QString, resultText);

    sim::Fault f;
    f.kind = fault;
    f.param = param;
    m_sim->addFault(0, f);

    bool bootMode = true;
    std::uint8_t version = 0xEE, boardType = 0;
    QCOMPARE(query(bootMode, version, boardType), found);
    if (!found) {
        QVERIFY(!bootMode);
        QCOMPARE(version, std::uint8_t(0));
        QCOMPARE(boardType, kAudioBoard.boardType);
    }
    if (resultText.isEmpty()) {
        // A refused reply leaves the buffer as the query prepared it.
        for (std::uint8_t b : link().replyBody)
            QCOMPARE(b, std::uint8_t(0xFF));
    }
    QVERIFY(link().currentSocket() == nullptr);
}

void tst_PanelLink::aFailedExchangeLeavesNothingForTheNext_data()
{
    QTest::addColumn<sim::FaultKind>("fault");
    QTest::addColumn<int>("param");
    QTest::newRow("reply of 80 bytes") << sim::FaultKind::WrongLength << 80;
    QTest::newRow("short reply, closed") << sim::FaultKind::WrongLength << 40;
    QTest::newRow("never answers, holds") << sim::FaultKind::AcceptNoAnswer << 0;
}

void tst_PanelLink::aFailedExchangeLeavesNothingForTheNext()
{
    // The link keeps one socket object for all its exchanges: whatever the first exchange left
    // behind (surplus bytes, a part of a reply, a held connection) must not reach the second.
    QFETCH(sim::FaultKind, fault);
    QFETCH(int, param);
    m_sim->addFault(0, { fault, -1, 1, 1, param });

    bool bootMode = true;
    std::uint8_t version = 0xEE, boardType = 0;
    QVERIFY(!query(bootMode, version, boardType));
    QVERIFY(link().currentSocket() == nullptr);
    QVERIFY(query(bootMode, version, boardType));
    QVERIFY(!bootMode);
    QCOMPARE(version, buildVersion(Console6170, kAudioBoard.boardType));
}

void tst_PanelLink::anAbortedConnectLeavesNothingForTheNext()
{
    // A connection attempt that an abort request ended, then an exchange with the device.
    test::StuckListener stuck;
    const DeviceTarget device = link().target();
    link().setTarget({ QStringLiteral("127.0.0.1"), stuck.port(), device.headerDeviceType });
    m_abort = true;
    QVERIFY(!link().exchangePanelPacket(RouteBootStatus, kAudioBoard.channel, kAudioBoard.panel, 4, CmdStatusQuery, 0,
                                        kAudioBoard.boardType, kAudioBoard.boardAddress, false, 5000));
    m_abort = false;
    link().setTarget(device);
    bool bootMode = true;
    std::uint8_t version = 0xEE, boardType = 0;
    QVERIFY(query(bootMode, version, boardType));
    QCOMPARE(version, buildVersion(Console6170, kAudioBoard.boardType));
}

void tst_PanelLink::addressOutsideTheCatalogueWritesNoLine()
{
    bool bootMode = false;
    std::uint8_t version = 0;
    std::uint8_t boardType = 9;
    QVERIFY(!link().checkPanel(bootMode, version, 7, 7, boardType, 7));
    QCOMPARE(boardType, std::uint8_t(9));
}

void tst_PanelLink::replyDeviceTypeRule_data()
{
    QTest::addColumn<int>("requestType");
    QTest::addColumn<int>("replyType");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("same type") << 2 << 2 << true;
    QTest::newRow("another type") << 2 << 3 << false;
    QTest::newRow("request 5, reply 0") << 5 << 0 << true;
    QTest::newRow("request 5, reply 4") << 5 << 4 << true;
    QTest::newRow("request 5, reply 5") << 5 << 5 << false;
    QTest::newRow("request 5, reply 0xFFFF") << 5 << 0xFFFF << false;
}

void tst_PanelLink::replyDeviceTypeRule()
{
    // The simulator checks the request's device type against its own, so a request that carries
    // 5 is played by a scripted peer.
    QFETCH(int, requestType);
    QFETCH(int, replyType);
    QFETCH(bool, accepted);
    const QByteArray reply = panelReply(static_cast<std::uint16_t>(replyType), kAudioBoard, ReplyStatus, 0x57, 7);
    test::ScriptedPeer peer(kPanelPacketSize, { { reply, 0 } }, false);
    DeviceTarget target { QStringLiteral("127.0.0.1"), peer.port(), static_cast<std::uint16_t>(requestType) };
    link().setTarget(target);
    link().replyBody.fill(0xFF);
    QCOMPARE(link().exchangePanelPacket(RouteBootStatus, kAudioBoard.channel, kAudioBoard.panel, 4, CmdStatusQuery, 0,
                                        kAudioBoard.boardType, kAudioBoard.boardAddress, false, 5000),
             accepted);
    QCOMPARE(link().replyBody[BodyPayload], accepted ? std::uint8_t(7) : std::uint8_t(0xFF));
    const QByteArray sent = peer.received();
    QCOMPARE(sent.size(), int(kPanelPacketSize));
    QCOMPARE(PacketHeader::decode(reinterpret_cast<const std::uint8_t *>(sent.constData())).deviceType,
             std::uint16_t(requestType));
}

void tst_PanelLink::noReplyCommandsAreTrueOnceWritten_data()
{
    QTest::addColumn<int>("route");
    QTest::addColumn<int>("command");
    QTest::addColumn<bool>("deviceHolds");
    QTest::newRow("enter boot loader") << int(RouteBootStatus) << int(CmdBootLoader) << false;
    QTest::newRow("leave boot loader") << int(RouteLeaveBoot) << 0 << false;
    QTest::newRow("enter, device holds the connection") << int(RouteBootStatus) << int(CmdBootLoader) << true;
}

void tst_PanelLink::noReplyCommandsAreTrueOnceWritten()
{
    QFETCH(int, route);
    QFETCH(int, command);
    QFETCH(bool, deviceHolds);
    if (deviceHolds)
        m_sim->addFault(0, { sim::FaultKind::AcceptNoAnswer, -1, 1, -1, 0 });
    QVERIFY(link().exchangePanelPacket(static_cast<std::uint8_t>(route), kAudioBoard.channel, kAudioBoard.panel, 4,
                                       static_cast<std::uint8_t>(command), 0, kAudioBoard.boardType,
                                       kAudioBoard.boardAddress, false, 1));
    const int position = audioBoardPosition();
    QTRY_COMPARE(m_sim->snapshot(0).requests, 1);
    if (!deviceHolds) {
        const auto board = m_sim->snapshot(0).boards[position];
        QCOMPARE(route == RouteLeaveBoot ? board.leaveRequests : board.enterRequests, 1);
    }
    // The reset on route 8 reads nothing either.
    const std::array<std::uint8_t, 2> payload { { kAudioBoard.boardType, kAudioBoard.boardAddress } };
    QVERIFY(link().exchangeServicePacket(kAudioBoard.channel, kAudioBoard.panel, 2, CmdReset, payload.data()));
    QTRY_COMPARE(m_sim->snapshot(0).requests, 2);
}

void tst_PanelLink::pollsAfterAShortOrMissingReply_data()
{
    QTest::addColumn<int>("sent");
    QTest::addColumn<bool>("holdOpen");
    QTest::addColumn<int>("polls");
    // A peer that holds the connection may still send the rest: the whole wait is spent. One
    // that has closed after part of a reply cannot: that part is the answer at once. One that
    // closed without a byte is polled for as any silent device.
    QTest::newRow("40 bytes, held") << 40 << true << 7499;
    QTest::newRow("40 bytes, closed") << 40 << false << 0;
    QTest::newRow("nothing, held") << 0 << true << 7499;
    QTest::newRow("nothing, closed") << 0 << false << 7499;
}

void tst_PanelLink::pollsAfterAShortOrMissingReply()
{
    QFETCH(int, sent);
    QFETCH(bool, holdOpen);
    QFETCH(int, polls);
    std::vector<test::ScriptedPeer::Step> steps;
    if (sent)
        steps.push_back({ panelReply(Console6170, kAudioBoard, ReplyStatus, 0x57, 7).left(sent), 0 });
    test::ScriptedPeer peer(kPanelPacketSize, steps, holdOpen);
    CountingClock clock;
    PanelLink counted(clock, {});
    counted.setTarget({ QStringLiteral("127.0.0.1"), peer.port(), std::uint16_t(Console6170) });
    counted.replyBody.fill(0xFF);
    QVERIFY(!counted.exchangePanelPacket(RouteBootStatus, kAudioBoard.channel, kAudioBoard.panel, 4, CmdStatusQuery,
                                         0, kAudioBoard.boardType, kAudioBoard.boardAddress, false, 5000));
    QCOMPARE(clock.sleeps.load(), polls);
    QCOMPARE(counted.replyBody[0], std::uint8_t(0xFF));
    QCOMPARE(peer.received().size(), int(kPanelPacketSize));
}

void tst_PanelLink::refusedConnectionIsFalse()
{
    m_sim->addFault(0, { sim::FaultKind::RefuseConnections, -1, 1, -1, 0 });
    QTRY_VERIFY(!m_sim->snapshot(0).listening);
    QVERIFY(!link().exchangePanelPacket(RouteBootStatus, kAudioBoard.channel, kAudioBoard.panel, 4, CmdStatusQuery, 0,
                                        kAudioBoard.boardType, kAudioBoard.boardAddress, false, 5000));
    const std::array<std::uint8_t, 2> payload { { kAudioBoard.boardType, kAudioBoard.boardAddress } };
    QVERIFY(!link().exchangeServicePacket(kAudioBoard.channel, kAudioBoard.panel, 2, CmdReset, payload.data()));
}

void tst_PanelLink::abortDuringTheConnectWaitEndsAtTheNextPoll()
{
    // A connect to a listener with a full queue stays pending; the abort arrives after a few
    // polls of the connect wait and must end it at the next one.
    test::StuckListener stuck;
    CountingClock clock;
    constexpr int kPollsBeforeAbort = 5;
    int checks = 0;
    int checksAfterAbort = 0;
    bool allWhileConnecting = true;
    std::unique_ptr<PanelLink> stuckLink;
    stuckLink = std::make_unique<PanelLink>(clock, [&] {
        const bool aborted = checks >= kPollsBeforeAbort;
        ++checks;
        if (aborted)
            ++checksAfterAbort;
        QTcpSocket *s = stuckLink->currentSocket();
        allWhileConnecting = allWhileConnecting && s && s->state() == QAbstractSocket::ConnectingState;
        return aborted;
    });
    stuckLink->setTarget({ QStringLiteral("127.0.0.1"), stuck.port(), 0 });
    QVERIFY(!stuckLink->exchangePanelPacket(RouteBootStatus, 1, 0, 4, CmdStatusQuery, 0, 2, 1, false, 5000));
    QCOMPARE(checksAfterAbort, 1);
    QCOMPARE(clock.sleeps.load(), kPollsBeforeAbort);
    QVERIFY(allWhileConnecting);
    QVERIFY(stuckLink->currentSocket() == nullptr);
}

void tst_PanelLink::abortDuringTheReplyWaitEndsAtTheNextPoll()
{
    m_sim->addFault(0, { sim::FaultKind::AcceptNoAnswer, -1, 1, -1, 0 });
    CountingClock clock;
    int checks = 0;
    PanelLink waiting(clock, [&] { return ++checks > 3; });
    waiting.setTarget(link().target());
    QVERIFY(!waiting.exchangePanelPacket(RouteBootStatus, kAudioBoard.channel, kAudioBoard.panel, 4, CmdStatusQuery,
                                         0, kAudioBoard.boardType, kAudioBoard.boardAddress, false, 5000));
    QCOMPARE(checks, 4);
    QCOMPARE(clock.sleeps.load(), 3);
}

void tst_PanelLink::programDataCarriesTheRecordOfTxBody()
{
    // Route 5 takes bytes 8..14 and the data bytes from txBody; the board answers 'k' or 'm'
    // to the record, so an accepted reply shows that the request was well-formed.
    sim::BoardConfig board;
    board.fitted = true;
    board.state = sim::BoardState::Erased;
    m_sim->setBoard(0, audioBoardPosition(), board);
    link().txBody.fill(0);
    link().txBody[9] = 4; // data bytes
    for (int i = 0; i < 4; ++i)
        link().txBody[kDataOffset + i] = static_cast<std::uint8_t>(i + 1);
    link().txBody[kDataOffset + 4] = 0x77; // beyond the data length: must not be sent
    link().replyBody.fill(0xFF);
    QVERIFY(link().exchangePanelPacket(RouteProgramData, kAudioBoard.channel, kAudioBoard.panel, 4 + 11, 0, 0,
                                       kAudioBoard.boardType, kAudioBoard.boardAddress, true, 5000));
    QVERIFY(link().replyBody[BodyRoute] == ReplyAccepted || link().replyBody[BodyRoute] == ReplyChecksum);
}

void tst_PanelLink::picQuery_data()
{
    QTest::addColumn<int>("picVariant");
    QTest::addColumn<int>("badAnswersFirst"); // replies with another reply code before the good one
    QTest::addColumn<int>("expected");
    QTest::addColumn<int>("queries");
    QTest::newRow("first answer valid, 0") << 0 << 0 << 0 << 1;
    QTest::newRow("first answer valid, 11") << 11 << 0 << 11 << 1;
    QTest::newRow("valid after three wrong codes") << 3 << 3 << 3 << 4;
    QTest::newRow("variant 12 ten times") << 12 << 0 << 12 << 10;
    QTest::newRow("variant 200 ten times") << 200 << 0 << 12 << 10;
    QTest::newRow("no answer ten times") << -1 << 0 << 12 << 10;
}

void tst_PanelLink::picQuery()
{
    QFETCH(int, picVariant);
    QFETCH(int, badAnswersFirst);
    QFETCH(int, expected);
    QFETCH(int, queries);
    const int position = audioBoardPosition();
    sim::BoardConfig board;
    board.fitted = true;
    board.version = buildVersion(Console6170, kAudioBoard.boardType);
    board.picVariant = picVariant;
    m_sim->setBoard(0, position, board);
    if (badAnswersFirst)
        m_sim->addFault(0, { sim::FaultKind::WrongReplyCode, position, 1, badAnswersFirst, 0 });

    const std::uint8_t picType = link().queryPicType(kAudioBoard.channel, kAudioBoard.panel, kAudioBoard.boardType,
                                                     kAudioBoard.boardAddress);
    QCOMPARE(int(picType), expected);
    QCOMPARE(m_sim->snapshot(0).boards[position].picQueries, queries);
}

void tst_PanelLink::serviceQueryToADeviceThatClosesIsFalse()
{
    m_sim->addFault(0, { sim::FaultKind::NeverAnswer, -1, 1, -1, 0 });
    link().replyBody.fill(0xFF);
    const std::array<std::uint8_t, 2> payload { { kAudioBoard.boardType, kAudioBoard.boardAddress } };
    QVERIFY(!link().exchangeServicePacket(kAudioBoard.channel, kAudioBoard.panel, 2, CmdPicQuery, payload.data()));
    QCOMPARE(link().replyBody[0], std::uint8_t(0xFF));
}

void tst_PanelLink::deviceRequests()
{
    // Information, rename and identify over the blocking client, with the record as answer.
    const auto info = link().requestInfo();
    QVERIFY(info.has_value());
    QCOMPARE(ipText(*info), kDeviceAddress);
    QCOMPARE(info->type(), std::uint32_t(Console6170));

    const auto renamed = link().rename("Stage Left");
    QVERIFY(renamed.has_value());
    QCOMPARE(renamed->nameBytes(), QByteArray("Stage Left"));
    QCOMPARE(m_sim->snapshot(0).name, QByteArray("Stage Left"));

    QVERIFY(link().identify());
    QTRY_COMPARE(m_sim->snapshot(0).identifies, 1);

    m_sim->addFault(0, { sim::FaultKind::DiscoveryType5, -1, 1, -1, 0 });
    QVERIFY(!link().requestInfo().has_value());
    QVERIFY(!link().probeDevice(kDeviceAddress).has_value());
}

QTEST_GUILESS_MAIN(tst_PanelLink)
#include "tst_panellink.moc"
