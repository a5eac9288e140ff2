// Panel exchange benchmark (a program, not a test).
//
//  1. Status queries per second through PanelLink::exchangePanelPacket against a simulated
//     console on loopback, against a minimal client that does the same connect / send 76 /
//     receive 76 / close with plain blocking sockets, in the same run and interleaved in rounds
//     so that both see the same machine load. Printed as a ratio (goal: at least 0.8).
//  2. Peak memory (VmHWM) of this process after 1,000 and after 100,000 exchanges (goal: flat):
//     every exchange makes and disposes of its own socket, and the worker thread has no event
//     loop that would run deferred deletions.
//
// The simulator runs in a child process so that its own bookkeeping does not count here.
//
// Usage: orvo-bench-exchange [rounds] [queries-per-round] [memory-exchanges]

#include "catalogue.h"
#include "clock.h"
#include "panellink.h"
#include "simulator.h"

#include <boost/asio/connect.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/read.hpp>
#include <boost/asio/write.hpp>

#include <QCoreApplication>
#include <QFile>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace orvo;
namespace devsim = orvo::devsim;

namespace {

const PanelSlot kAudioBoard { 0, 1, 2, 1 }; // "Channel AudioBoard 13-16" of the console
const char kAddress[] = "127.0.0.2";

long vmHwmKb()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

/// Child: serves one console until the parent closes `in`, then reports its violation count.
[[noreturn]] void serveSimulator(int in, int out)
{
    devsim::Simulator sim(1.0);
    sim.addDevice(devsim::defaultDevice(Console6170, QString::fromLatin1(kAddress)));
    QString error;
    std::uint16_t port = 0;
    if (sim.start(0, &error))
        port = sim.port(0);
    if (write(out, &port, sizeof port) != static_cast<ssize_t>(sizeof port))
        _exit(1);
    char c;
    while (read(in, &c, 1) > 0) {
    }
    sim.stop();
    const int violations = sim.violations().size();
    const ssize_t n = write(out, &violations, sizeof violations);
    _exit(n == static_cast<ssize_t>(sizeof violations) ? 0 : 1);
}

struct Child
{
    pid_t pid = -1;
    int toChild = -1;
    int fromChild = -1;
};

bool startSimulator(Child &child, std::uint16_t &port)
{
    int down[2], up[2];
    if (pipe(down) != 0 || pipe(up) != 0)
        return false;
    child.pid = fork();
    if (child.pid < 0)
        return false;
    if (child.pid == 0) {
        close(down[1]);
        close(up[0]);
        serveSimulator(down[0], up[1]);
    }
    close(down[0]);
    close(up[1]);
    child.toChild = down[1];
    child.fromChild = up[0];
    return read(child.fromChild, &port, sizeof port) == static_cast<ssize_t>(sizeof port) && port != 0;
}

int stopSimulator(Child &child)
{
    close(child.toChild);
    int violations = -1;
    if (read(child.fromChild, &violations, sizeof violations) != static_cast<ssize_t>(sizeof violations))
        violations = -1;
    close(child.fromChild);
    int status = 0;
    waitpid(child.pid, &status, 0);
    return violations;
}

/// The baseline: connect, send the request, receive exactly 76 bytes, close; no time-outs, no
/// checks beyond the length.
class RawClient
{
public:
    RawClient(std::uint16_t port, QByteArray request)
        : m_endpoint(boost::asio::ip::make_address(kAddress), port), m_request(std::move(request))
    {
    }

    bool query()
    {
        boost::system::error_code ec;
        boost::asio::ip::tcp::socket socket(m_io);
        socket.connect(m_endpoint, ec);
        if (ec)
            return false;
        boost::asio::write(socket, boost::asio::buffer(m_request.constData(), m_request.size()), ec);
        if (ec)
            return false;
        std::array<char, kPanelPacketSize> reply {};
        const std::size_t n = boost::asio::read(socket, boost::asio::buffer(reply), ec);
        socket.close(ec);
        return n == reply.size();
    }

private:
    boost::asio::io_context m_io;
    boost::asio::ip::tcp::endpoint m_endpoint;
    QByteArray m_request;
};

bool linkQuery(PanelLink &link)
{
    return link.exchangePanelPacket(RouteBootStatus, kAudioBoard.channel, kAudioBoard.panel, 4, CmdStatusQuery, 0,
                                    kAudioBoard.boardType, kAudioBoard.boardAddress, false, 5000)
        && link.replyMatches(ReplyStatus, kAudioBoard.channel, kAudioBoard.panel, kAudioBoard.boardType,
                             kAudioBoard.boardAddress);
}

template <typename Query>
double timedRound(int count, Query &&query, int &failures)
{
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i) {
        if (!query())
            ++failures;
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

int argOr(int argc, char **argv, int index, int fallback)
{
    return argc > index ? std::max(1, std::atoi(argv[index])) : fallback;
}

} // namespace

int main(int argc, char **argv)
{
    const int rounds = argOr(argc, argv, 1, 40);
    const int perRound = argOr(argc, argv, 2, 250);
    const int memoryExchanges = argOr(argc, argv, 3, 100000);

    // Fork before Qt or any thread exists.
    Child child;
    std::uint16_t port = 0;
    if (!startSimulator(child, port)) {
        std::fprintf(stderr, "cannot start the simulator\n");
        return 1;
    }

    int status = 0;
    {
        QCoreApplication app(argc, argv);
        PanelLink link(Clock::real(), [] { return false; });
        link.setTarget({ QString::fromLatin1(kAddress), port, Console6170 });
        link.setCatalogueType(Console6170);
        RawClient raw(port, buildPanelRequest(Console6170, RouteBootStatus, kAudioBoard.channel, kAudioBoard.panel, 4,
                                              CmdStatusQuery, 0, kAudioBoard.boardType, kAudioBoard.boardAddress,
                                              nullptr));

        // Memory first, counted from the first exchange of the process: the same exchange, many
        // times over.
        int memFailures = 0;
        const int small = std::min(1000, memoryExchanges);
        timedRound(small, [&] { return linkQuery(link); }, memFailures);
        const long hwmSmall = vmHwmKb();
        timedRound(memoryExchanges - small, [&] { return linkQuery(link); }, memFailures);
        const long hwmLarge = vmHwmKb();
        std::printf("peak memory (VmHWM): %ld kB after %d exchanges, %ld kB after %d exchanges (%+ld kB); "
                    "failures %d\n",
                    hwmSmall, small, hwmLarge, memoryExchanges, hwmLarge - hwmSmall, memFailures);

        // Warm-up of the baseline: its first connections pay for lazy initialisation.
        int failures = 0;
        timedRound(200, [&] { return raw.query(); }, failures);

        // Short rounds in alternating order, so that both clients see the same load on a shared
        // machine; the median of the per-round ratios is the figure that load changes move least.
        double linkSeconds = 0, rawSeconds = 0;
        int linkFailures = 0, rawFailures = 0;
        std::vector<double> ratios;
        for (int r = 0; r < rounds; ++r) {
            double l = 0, w = 0;
            if (r % 2 == 0) {
                l = timedRound(perRound, [&] { return linkQuery(link); }, linkFailures);
                w = timedRound(perRound, [&] { return raw.query(); }, rawFailures);
            } else {
                w = timedRound(perRound, [&] { return raw.query(); }, rawFailures);
                l = timedRound(perRound, [&] { return linkQuery(link); }, linkFailures);
            }
            linkSeconds += l;
            rawSeconds += w;
            ratios.push_back(w / l);
        }
        std::sort(ratios.begin(), ratios.end());
        const double median = ratios[ratios.size() / 2];
        const double total = double(rounds) * perRound;
        const double linkRate = total / linkSeconds;
        const double rawRate = total / rawSeconds;
        std::printf("status queries: exchangePanelPacket %.0f/s, raw socket client %.0f/s, ratio %.2f overall, "
                    "%.2f median of %d rounds of %d (failures %d / %d)\n",
                    linkRate, rawRate, linkRate / rawRate, median, rounds, perRound, linkFailures, rawFailures);

        if (linkFailures || rawFailures || memFailures || failures)
            status = 1;
    }

    const int violations = stopSimulator(child);
    std::printf("simulator: %d protocol violations\n", violations);
    return violations == 0 ? status : 1;
}
