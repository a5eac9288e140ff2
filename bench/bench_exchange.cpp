// Panel exchange benchmark (a program, not a test).
//
//  1. Status queries per second through PanelLink::exchangePanelPacket against a simulated
//     console on loopback, against a minimal client that does the same connect / send 76 /
//     receive 76 / close with plain blocking sockets, in the same run and interleaved in rounds
//     so that both see the same machine load. Printed as the median of the per-round ratios
//     (goal: at least 0.90).
//  2. Peak memory (VmHWM) of this process after 1,000 and after 100,000 exchanges (goal: flat):
//     every exchange makes and ends its own connection, and the worker thread has no event loop
//     that would run deferred deletions.
//
// The simulator runs in a child process so that its own bookkeeping does not count here. The
// baseline client is the same one the update benchmark measures against (benchsupport.h). A
// third client, QTcpSocket alone, shows how much of the gap is the socket class's own: one
// socket object, connectToHost, waitForConnected, write and flush, waitForReadyRead, read,
// close, and none of the exchange's waits, polls or checks.
//
// Usage: orvo-bench-exchange [rounds (40)] [queries-per-round (250)] [memory-exchanges (100000)]
//        orvo-bench-exchange --count N raw|link|qt [--sim ADDR:PORT]
//   The second form makes N status queries with one client and nothing else, inside
//   measuredExchanges(): the unit that bench/count-per-exchange runs callgrind
//   (--toggle-collect) and strace on.

#include "benchsupport.h"
#include "catalogue.h"
#include "clock.h"
#include "panellink.h"

#include <QCoreApplication>
#include <QNetworkProxy>
#include <QTcpSocket>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

using namespace orvo;
using namespace orvo::bench;

namespace {

const PanelSlot kAudioBoard { 0, 1, 2, 1 }; // "Channel AudioBoard 13-16" of the console
const char kAddress[] = "127.0.0.2";

bool linkQuery(PanelLink &link)
{
    const PanelExchange exchange = link.exchangePanelPacket(statusQueryRequest(kAudioBoard));
    return exchange.ok && replyMatches(*exchange.reply, ReplyStatus, kAudioBoard);
}

// The least a status query over QTcpSocket takes: the class's own cost per connection.
class QtSocketExchange
{
public:
    QtSocketExchange(const QString &host, std::uint16_t port, QByteArray request)
        : m_host(host), m_port(port), m_request(std::move(request))
    {
        m_socket.setProxy(QNetworkProxy::NoProxy);
    }

    bool run()
    {
        m_socket.connectToHost(m_host, m_port);
        bool ok = m_socket.waitForConnected(5000) && m_socket.write(m_request) == m_request.size() && m_socket.flush();
        while (ok && m_socket.bytesAvailable() < qint64(kPanelPacketSize))
            ok = m_socket.waitForReadyRead(5000);
        char reply[kPanelPacketSize];
        ok = ok && m_socket.read(reply, sizeof reply) == qint64(sizeof reply);
        m_socket.close();
        m_socket.abort();
        return ok;
    }

private:
    QTcpSocket m_socket;
    QString m_host;
    std::uint16_t m_port;
    QByteArray m_request;
};

template <typename Query>
double timedRound(int count, Query &&query, int &failures)
{
    const Wall::time_point start = Wall::now();
    for (int i = 0; i < count; ++i) {
        if (!query())
            ++failures;
    }
    return seconds(start, Wall::now());
}

} // namespace

int main(int argc, char **argv)
{
    const BenchArgs args = BenchArgs::parse(argc, argv);
    if (!args.ok || (args.count && args.mode != "raw" && args.mode != "link" && args.mode != "qt")) {
        std::fprintf(stderr,
            "usage: orvo-bench-exchange [rounds] [queries-per-round] [memory-exchanges]\n"
            "       orvo-bench-exchange --count N raw|link|qt [--sim ADDR:PORT]\n");
        return 2;
    }
    const int rounds = args.number(0, 40);
    const int perRound = args.number(1, 250);
    const int memoryExchanges = args.number(2, 100000);
    const std::string address = args.address(kAddress);

    // Fork before Qt or any thread exists.
    SimulatorProcess simulator;
    if (!simulator.start(args, devsim::defaultDevice(Console6170, QString::fromLatin1(kAddress)), 1.0)) {
        std::fprintf(stderr, "cannot start the simulator\n");
        return 1;
    }

    int status = 0;
    {
        useWorkerThreadEventLoop();
        QCoreApplication app(argc, argv);
        const std::uint16_t port = simulator.port();
        PanelLink link(Clock::real(), [] { return false; });
        link.setTarget({ QString::fromStdString(address), port, Console6170 });
        link.setCatalogueType(Console6170);
        const QByteArray request = buildPanelRequest(Console6170, statusQueryRequest(kAudioBoard));
        RawExchange raw(address.c_str(), port, request);
        QtSocketExchange qt(QString::fromStdString(address), port, request);

        if (args.count) {
            const int failures = args.mode == "raw" ? measuredExchanges(args.count, [&](int) { return raw.run(); })
                : args.mode == "qt"                 ? measuredExchanges(args.count, [&](int) { return qt.run(); })
                                    : measuredExchanges(args.count, [&](int) { return linkQuery(link); });
            std::printf("%d status queries (%s), failures %d\n", args.count, args.mode.c_str(), failures);
            return failures ? 1 : 0;
        }

        // Memory first, counted from the first exchange of the process: the same exchange, many
        // times over.
        int memFailures = 0;
        const int small = std::min(1000, memoryExchanges);
        timedRound(
            small, [&] { return linkQuery(link); }, memFailures);
        const long hwmSmall = vmHwmKb();
        timedRound(
            memoryExchanges - small, [&] { return linkQuery(link); }, memFailures);
        const long hwmLarge = vmHwmKb();
        std::printf("peak memory (VmHWM): %ld kB after %d exchanges, %ld kB after %d exchanges (%+ld kB); "
                    "failures %d\n",
            hwmSmall, small, hwmLarge, memoryExchanges, hwmLarge - hwmSmall, memFailures);

        // Warm-up of the baseline: its first connections pay for lazy initialisation.
        int failures = 0;
        timedRound(
            200, [&] { return raw.run(); }, failures);

        // Short rounds in rotating order, so that all clients see the same load on a shared
        // machine; the median of the per-round ratios is the figure that load changes move least.
        double linkSeconds = 0, rawSeconds = 0, qtSeconds = 0;
        int linkFailures = 0, rawFailures = 0, qtFailures = 0;
        std::vector<double> ratios, qtRatios, linkOverQt; // rate over the raw rate, and link over Qt, per round
        for (int r = 0; r < rounds; ++r) {
            double l = 0, w = 0, q = 0;
            for (int k = 0; k < 3; ++k) {
                switch ((r + k) % 3) {
                case 0:
                    l = timedRound(
                        perRound, [&] { return linkQuery(link); }, linkFailures);
                    break;
                case 1:
                    w = timedRound(
                        perRound, [&] { return raw.run(); }, rawFailures);
                    break;
                default:
                    q = timedRound(
                        perRound, [&] { return qt.run(); }, qtFailures);
                    break;
                }
            }
            linkSeconds += l;
            rawSeconds += w;
            qtSeconds += q;
            ratios.push_back(w / l);
            qtRatios.push_back(w / q);
            linkOverQt.push_back(q / l);
        }
        const double medianRatio = median(ratios);
        const double total = double(rounds) * perRound;
        const double linkRate = total / linkSeconds;
        const double rawRate = total / rawSeconds;
        std::printf("status queries: exchangePanelPacket %.0f/s, raw socket client %.0f/s, ratio %.2f overall, "
                    "%.2f median of %d rounds of %d (goal >= 0.90; failures %d / %d)\n",
            linkRate, rawRate, linkRate / rawRate, medianRatio, rounds, perRound, linkFailures, rawFailures);
        std::printf("  QTcpSocket alone %.0f/s: median ratio to the raw client %.2f, exchangePanelPacket to it %.2f "
                    "(failures %d)\n",
            total / qtSeconds, median(qtRatios), median(linkOverQt), qtFailures);

        if (linkFailures || rawFailures || qtFailures || memFailures || failures)
            status = 1;
    }

    const int violations = simulator.stop();
    std::printf("simulator: %d protocol violations\n", violations);
    return violations == 0 ? status : 1;
}
