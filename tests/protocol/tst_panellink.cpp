#include "blockingtcpclient.h"
#include "catalogue.h"
#include "clock.h"
#include "devicerecord.h"
#include "loopbackpeers.h"
#include "panellink.h"
#include "simulator.h"

#include <QTcpSocket>
#include <QtTest>

#include <array>
#include <atomic>
#include <memory>

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

// Time-outs of the blocking client as the product passes them; the scaled clock turns each into
// a short real wait with a floor (see ScaledClock::socketWaitMs) that a loopback device meets.
constexpr int kConnectMs = 5000;
constexpr int kWriteMs = 7000;
constexpr int kReadMs = 15000;

const QByteArray kInfoRequest = buildDeviceInfoRequest(kUnknownDeviceType);

const std::uint8_t *bytes(const QByteArray &a)
{
    return reinterpret_cast<const std::uint8_t *>(a.constData());
}

PanelExchange statusQuery(PanelLink &link)
{
    return link.exchangePanelPacket(statusQueryRequest(kAudioBoard));
}

} // namespace

Q_DECLARE_METATYPE(sim::FaultKind)

class tst_PanelLink : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void statusQueryAgainstFaults_data();
    void statusQueryAgainstFaults();
    void pollsAfterAShortOrMissingReply_data();
    void pollsAfterAShortOrMissingReply();
    void abortDuringTheConnectWaitEndsAtTheNextPoll();
    void abortDuringTheReplyWaitEndsAtTheNextPoll();
    void picQuery_data();
    void picQuery();

    // The blocking client that carries the information, rename and identify requests.
    void blockingExchange_data();
    void blockingExchange();
    void blockingConnectNeedsNumericHost();
    void blockingConnectTimesOutOnAPendingConnection();
    void blockingWriteTimesOutWhenThePeerDoesNotRead();

private:
    PanelLink &link() { return *m_link; }

    std::unique_ptr<sim::Simulator> m_sim;
    std::unique_ptr<ScaledClock> m_clock;
    std::unique_ptr<PanelLink> m_link;
    std::atomic<bool> m_abort { false };
};

void tst_PanelLink::init()
{
    m_abort = false;
    m_clock = std::make_unique<ScaledClock>(1000);
    m_link = std::make_unique<PanelLink>(*m_clock, [this] { return m_abort.load(); });
    m_sim = std::make_unique<sim::Simulator>(1.0);
    m_sim->addDevice(sim::defaultDevice(Console6170, kDeviceAddress));
    QString error;
    QVERIFY2(m_sim->start(0, &error), qPrintable(error));
    link().setTarget({ kDeviceAddress, m_sim->port(0), std::uint16_t(Console6170) });
    link().setCatalogueType(Console6170);
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
}

void tst_PanelLink::statusQueryAgainstFaults_data()
{
    QTest::addColumn<int>("fault"); // -1: none
    QTest::addColumn<int>("param");
    QTest::addColumn<bool>("found");
    QTest::addColumn<bool>("refused"); // the reply itself was refused: the exchange gives no body

    QTest::newRow("no fault") << -1 << 0 << true << false;
    QTest::newRow("wrong kind") << int(sim::FaultKind::WrongKind) << 0 << false << true;
    QTest::newRow("short reply, closed") << int(sim::FaultKind::WrongLength) << 40 << false << true;
    QTest::newRow("never answers, closes") << int(sim::FaultKind::NeverAnswer) << 0 << false << true;
    QTest::newRow("never answers, holds") << int(sim::FaultKind::AcceptNoAnswer) << 0 << false << true;
    // Accepted replies that answer for another board or with another code.
    QTest::newRow("wrong echo: board address") << int(sim::FaultKind::WrongEcho) << 7 << false << false;
    QTest::newRow("wrong reply code") << int(sim::FaultKind::WrongReplyCode) << 0 << false << false;
    // Slow and split replies that still come whole within the reply wait.
    QTest::newRow("split 40 + 36") << int(sim::FaultKind::SplitReply) << 30 << true << false;
}

void tst_PanelLink::statusQueryAgainstFaults()
{
    // The link keeps one socket object for all its exchanges: whatever the faulty exchange left
    // behind (surplus bytes, a part of a reply, a held connection) must not reach the next.
    QFETCH(int, fault);
    QFETCH(int, param);
    QFETCH(bool, found);
    QFETCH(bool, refused);
    // The fault hits the first two queries: the exchange itself, then the check of the board.
    if (fault >= 0)
        m_sim->addFault(0, { sim::FaultKind(fault), -1, 1, 2, param });

    const PanelExchange exchange = statusQuery(link());
    QCOMPARE(exchange.ok, !refused);
    QCOMPARE(exchange.reply.has_value(), !refused);
    QVERIFY(link().currentSocket() == nullptr);

    const PanelCheck check = link().checkPanel(kAudioBoard);
    QCOMPARE(check.found, found);
    QCOMPARE(check.version, found ? buildVersion(Console6170, kAudioBoard.boardType) : std::uint8_t(0));
    QVERIFY(!check.bootMode);
    QVERIFY(link().currentSocket() == nullptr);

    const PanelCheck again = link().checkPanel(kAudioBoard);
    QVERIFY(again.found);
    QCOMPARE(again.version, buildVersion(Console6170, kAudioBoard.boardType));
}

void tst_PanelLink::pollsAfterAShortOrMissingReply_data()
{
    QTest::addColumn<sim::FaultKind>("fault");
    QTest::addColumn<int>("param");
    QTest::addColumn<int>("polls");
    // A device that holds the connection may still send the rest: the whole wait is spent. One
    // that has closed after part of a reply cannot: that part is the answer at once. One that
    // closed without a byte is polled for as any silent device.
    QTest::newRow("40 bytes, held") << sim::FaultKind::SplitReply << 60000 << 7499;
    QTest::newRow("40 bytes, closed") << sim::FaultKind::WrongLength << 40 << 0;
    QTest::newRow("nothing, held") << sim::FaultKind::AcceptNoAnswer << 0 << 7499;
    QTest::newRow("nothing, closed") << sim::FaultKind::NeverAnswer << 0 << 7499;
}

void tst_PanelLink::pollsAfterAShortOrMissingReply()
{
    QFETCH(sim::FaultKind, fault);
    QFETCH(int, param);
    QFETCH(int, polls);
    m_sim->addFault(0, { fault, -1, 1, -1, param });
    CountingClock clock;
    PanelLink counted(clock, {});
    counted.setTarget(link().target());
    const PanelExchange exchange = statusQuery(counted);
    QVERIFY(!exchange.ok);
    QCOMPARE(clock.sleeps.load(), polls);
    QVERIFY(!exchange.reply);
    QCOMPARE(m_sim->snapshot(0).requests, 1);
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
    QVERIFY(!statusQuery(*stuckLink).ok);
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
    QVERIFY(!statusQuery(waiting).ok);
    QCOMPARE(checks, 4);
    QCOMPARE(clock.sleeps.load(), 3);
}

void tst_PanelLink::picQuery_data()
{
    QTest::addColumn<int>("picVariant");
    QTest::addColumn<int>("badAnswersFirst"); // replies with another reply code before the good one
    QTest::addColumn<int>("expected");
    QTest::addColumn<int>("queries");
    QTest::newRow("first answer valid, 0") << 0 << 0 << 0 << 1;
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

    const std::uint8_t picType = link().queryPicType(kAudioBoard);
    QCOMPARE(int(picType), expected);
    QCOMPARE(m_sim->snapshot(0).boards[position].picQueries, queries);
}

void tst_PanelLink::blockingExchange_data()
{
    QTest::addColumn<int>("fault"); // -1: none
    QTest::addColumn<int>("param");
    QTest::addColumn<bool>("whole");
    QTest::newRow("one segment") << -1 << 0 << true;
    QTest::newRow("two segments") << int(sim::FaultKind::SplitReply) << 20 << true;
    // A read that times out or ends short gives nothing, whether the device holds the
    // connection or has closed it.
    QTest::newRow("nothing, held open") << int(sim::FaultKind::AcceptNoAnswer) << 0 << false;
    QTest::newRow("part, held open") << int(sim::FaultKind::SplitReply) << 60000 << false;
    QTest::newRow("nothing, closed") << int(sim::FaultKind::NeverAnswer) << 0 << false;
    QTest::newRow("part, closed") << int(sim::FaultKind::WrongLength) << 100 << false;
}

void tst_PanelLink::blockingExchange()
{
    QFETCH(int, fault);
    QFETCH(int, param);
    QFETCH(bool, whole);
    if (fault >= 0)
        m_sim->addFault(0, { sim::FaultKind(fault), -1, 1, -1, param });
    BlockingTcpClient client(*m_clock);
    QVERIFY(client.connect(kDeviceAddress.toStdString(), std::to_string(m_sim->port(0)), kConnectMs));
    QVERIFY(client.isOpen());
    QVERIFY(client.write(bytes(kInfoRequest), std::size_t(kInfoRequest.size()), kWriteMs));
    std::array<std::uint8_t, OrvoDiscoveryInfo::kSize> rx {};
    QCOMPARE(client.read(rx.data(), rx.size(), kReadMs), whole ? rx.size() : std::size_t(0));
    if (whole)
        QVERIFY(acceptDeviceRecord(rx.data(), rx.size()).has_value());
    // A timed-out read has closed the socket to cancel itself; it stays usable for close().
    client.close();
    QVERIFY(!client.isOpen());
}

void tst_PanelLink::blockingConnectNeedsNumericHost()
{
    // Names are refused without a lookup: a DNS query could block past the time-out.
    BlockingTcpClient client(*m_clock);
    QVERIFY(!client.connect("localhost", "51000", kConnectMs));
    QVERIFY(!client.connect("127.0.0.1", "http", kConnectMs));
    QVERIFY(!client.connect("", "51000", kConnectMs));
}

void tst_PanelLink::blockingConnectTimesOutOnAPendingConnection()
{
    test::StuckListener stuck;
    BlockingTcpClient client(*m_clock);
    QVERIFY(!client.connect("127.0.0.1", std::to_string(stuck.port()), kConnectMs));
    QVERIFY(!client.isOpen());
    // The probe's short time-out takes the same way out.
    QVERIFY(!client.connect("127.0.0.1", std::to_string(stuck.port()), 30));
}

void tst_PanelLink::blockingWriteTimesOutWhenThePeerDoesNotRead()
{
    // Far more than the loopback socket buffers hold, to a peer that reads nothing of it.
    const QByteArray big(64 * 1024 * 1024, 'x');
    test::StuckListener neverReads(false);
    BlockingTcpClient client(*m_clock);
    QVERIFY(client.connect("127.0.0.1", std::to_string(neverReads.port()), kConnectMs));
    QVERIFY(!client.write(bytes(big), static_cast<std::size_t>(big.size()), kWriteMs));
    QVERIFY(!client.isOpen());
}

QTEST_GUILESS_MAIN(tst_PanelLink)
#include "tst_panellink.moc"
