#include "blockingtcpclient.h"
#include "clock.h"
#include "loopbackpeers.h"

#include <QtTest>

#include <array>
#include <memory>
#include <vector>

using namespace orvo;
using orvo::test::ScriptedPeer;
using orvo::test::StuckListener;

namespace {

// Time-outs as the product passes them; the scaled clock turns each into a short real wait
// with a floor (see ScaledClock::socketWaitMs) that a loopback peer easily meets.
constexpr int kConnectMs = 5000;
constexpr int kWriteMs = 7000;
constexpr int kReadMs = 15000;

QByteArray pattern(int n)
{
    QByteArray a(n, '\0');
    for (int i = 0; i < n; ++i)
        a[i] = static_cast<char>(i * 7 + 1);
    return a;
}

const std::uint8_t *bytes(const QByteArray &a)
{
    return reinterpret_cast<const std::uint8_t *>(a.constData());
}

} // namespace

Q_DECLARE_METATYPE(std::vector<ScriptedPeer::Step>)

class tst_BlockingTcpClient : public QObject
{
    Q_OBJECT

private slots:
    void exchange_data();
    void exchange();
    void readTimesOutOrFailsShort_data();
    void readTimesOutOrFailsShort();
    void connectRefused();
    void connectNeedsNumericHost();
    void connectTimesOutOnAPendingConnection();
    void writeTimesOutWhenThePeerDoesNotRead();
    void unusableAfterClose();

private:
    ScaledClock m_clock { 1000 };
};

void tst_BlockingTcpClient::exchange_data()
{
    QTest::addColumn<std::vector<ScriptedPeer::Step>>("steps");
    const QByteArray record = pattern(123);
    QTest::newRow("one segment") << std::vector<ScriptedPeer::Step> { { record, 0 } };
    QTest::newRow("two segments") << std::vector<ScriptedPeer::Step> { { record.left(40), 0 },
                                                                       { record.mid(40), 20 } };
    QTest::newRow("byte by byte start")
        << std::vector<ScriptedPeer::Step> { { record.left(1), 0 }, { record.mid(1, 1), 5 }, { record.mid(2), 5 } };
}

void tst_BlockingTcpClient::exchange()
{
    QFETCH(std::vector<ScriptedPeer::Step>, steps);
    const QByteArray request = pattern(12);
    ScriptedPeer peer(12, steps, false);
    BlockingTcpClient client(m_clock);
    QVERIFY(client.connect("127.0.0.1", std::to_string(peer.port()), kConnectMs));
    QVERIFY(client.isOpen());
    QVERIFY(client.write(bytes(request), 12, kWriteMs));
    std::array<std::uint8_t, 123> rx {};
    QCOMPARE(client.read(rx.data(), rx.size(), kReadMs), rx.size());
    QCOMPARE(QByteArray(reinterpret_cast<const char *>(rx.data()), 123), pattern(123));
    client.close();
    QVERIFY(!client.isOpen());
    QCOMPARE(peer.received(), request);
}

void tst_BlockingTcpClient::readTimesOutOrFailsShort_data()
{
    QTest::addColumn<int>("sent");
    QTest::addColumn<bool>("holdOpen");
    QTest::newRow("nothing, held open") << 0 << true;
    QTest::newRow("part, held open") << 100 << true;
    QTest::newRow("nothing, closed") << 0 << false;
    QTest::newRow("part, closed") << 100 << false;
}

void tst_BlockingTcpClient::readTimesOutOrFailsShort()
{
    QFETCH(int, sent);
    QFETCH(bool, holdOpen);
    std::vector<ScriptedPeer::Step> steps;
    if (sent)
        steps.push_back({ pattern(sent), 0 });
    ScriptedPeer peer(12, steps, holdOpen);
    BlockingTcpClient client(m_clock);
    QVERIFY(client.connect("127.0.0.1", std::to_string(peer.port()), kConnectMs));
    QVERIFY(client.write(bytes(pattern(12)), 12, kWriteMs));
    std::array<std::uint8_t, 123> rx {};
    QCOMPARE(client.read(rx.data(), rx.size(), kReadMs), std::size_t(0));
    // A timed-out read has closed the socket to cancel itself; it stays usable for close().
    client.close();
    QVERIFY(!client.isOpen());
}

void tst_BlockingTcpClient::connectRefused()
{
    std::uint16_t port = 0;
    {
        ScriptedPeer gone(0, {}, false); // take a free port, then let it go
        port = gone.port();
    }
    BlockingTcpClient client(m_clock);
    QVERIFY(!client.connect("127.0.0.1", std::to_string(port), kConnectMs));
    QVERIFY(!client.isOpen());
    QVERIFY(!client.write(bytes(pattern(12)), 12, kWriteMs)); // a failed client is not written to
}

void tst_BlockingTcpClient::connectNeedsNumericHost()
{
    // Names are refused without a lookup: a DNS query could block past the time-out.
    BlockingTcpClient client(m_clock);
    QVERIFY(!client.connect("localhost", "51000", kConnectMs));
    QVERIFY(!client.connect("127.0.0.1", "http", kConnectMs));
    QVERIFY(!client.connect("", "51000", kConnectMs));
}

void tst_BlockingTcpClient::connectTimesOutOnAPendingConnection()
{
    StuckListener stuck;
    BlockingTcpClient client(m_clock);
    QVERIFY(!client.connect("127.0.0.1", std::to_string(stuck.port()), kConnectMs));
    QVERIFY(!client.isOpen());
    // The probe's short time-out takes the same way out.
    QVERIFY(!client.connect("127.0.0.1", std::to_string(stuck.port()), 30));
}

void tst_BlockingTcpClient::writeTimesOutWhenThePeerDoesNotRead()
{
    // Far more than the loopback socket buffers hold, to a peer that reads nothing of it.
    const QByteArray big(64 * 1024 * 1024, 'x');
    ScriptedPeer peer(0, {}, true);
    BlockingTcpClient client(m_clock);
    QVERIFY(client.connect("127.0.0.1", std::to_string(peer.port()), kConnectMs));
    QVERIFY(!client.write(bytes(big), static_cast<std::size_t>(big.size()), kWriteMs));
    QVERIFY(!client.isOpen());
}

void tst_BlockingTcpClient::unusableAfterClose()
{
    ScriptedPeer peer(0, {}, true);
    BlockingTcpClient client(m_clock);
    QVERIFY(client.connect("127.0.0.1", std::to_string(peer.port()), kConnectMs));
    client.close();
    client.close(); // twice is harmless
    std::array<std::uint8_t, 4> rx {};
    QVERIFY(!client.write(bytes(pattern(4)), 4, kWriteMs));
    QCOMPARE(client.read(rx.data(), rx.size(), kReadMs), std::size_t(0));
}

QTEST_GUILESS_MAIN(tst_BlockingTcpClient)
#include "tst_blockingtcpclient.moc"
