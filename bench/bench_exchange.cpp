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
// The simulator runs in a child process so that its own bookkeeping does not count here. The
// baseline client is the same one the update benchmark measures against (benchsupport.h).
//
// Usage: orvo-bench-exchange [rounds] [queries-per-round] [memory-exchanges]

#include "benchsupport.h"
#include "catalogue.h"
#include "clock.h"
#include "panellink.h"

#include <QCoreApplication>

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
    return link.exchangePanelPacket(RouteBootStatus, kAudioBoard.channel, kAudioBoard.panel, 4, CmdStatusQuery, 0,
                                    kAudioBoard.boardType, kAudioBoard.boardAddress, false, 5000)
        && link.replyMatches(ReplyStatus, kAudioBoard.channel, kAudioBoard.panel, kAudioBoard.boardType,
                             kAudioBoard.boardAddress);
}

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
    SimulatorProcess simulator;
    if (!simulator.start(devsim::defaultDevice(Console6170, QString::fromLatin1(kAddress)), 1.0)) {
        std::fprintf(stderr, "cannot start the simulator\n");
        return 1;
    }

    int status = 0;
    {
        QCoreApplication app(argc, argv);
        const std::uint16_t port = simulator.port();
        PanelLink link(Clock::real(), [] { return false; });
        link.setTarget({ QString::fromLatin1(kAddress), port, Console6170 });
        link.setCatalogueType(Console6170);
        RawExchange raw(kAddress, port,
                        buildPanelRequest(Console6170, RouteBootStatus, kAudioBoard.channel, kAudioBoard.panel, 4,
                                          CmdStatusQuery, 0, kAudioBoard.boardType, kAudioBoard.boardAddress, nullptr));

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
        timedRound(200, [&] { return raw.run(); }, failures);

        // Short rounds in alternating order, so that both clients see the same load on a shared
        // machine; the median of the per-round ratios is the figure that load changes move least.
        double linkSeconds = 0, rawSeconds = 0;
        int linkFailures = 0, rawFailures = 0;
        std::vector<double> ratios;
        for (int r = 0; r < rounds; ++r) {
            double l = 0, w = 0;
            if (r % 2 == 0) {
                l = timedRound(perRound, [&] { return linkQuery(link); }, linkFailures);
                w = timedRound(perRound, [&] { return raw.run(); }, rawFailures);
            } else {
                w = timedRound(perRound, [&] { return raw.run(); }, rawFailures);
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

    const int violations = simulator.stop();
    std::printf("simulator: %d protocol violations\n", violations);
    return violations == 0 ? status : 1;
}
