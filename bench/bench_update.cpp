// orvo-bench-update: the firmware download against the device simulator.
//
//  1. Records per second of the download of an update, against a raw exchange loop (plain
//     sockets: connect, send 76, receive 76, close; the exchange benchmark's baseline client)
//     and against the program's transport alone (exchangePanelPacket in a loop), all three
//     sending the same records to the same simulated board after an erase, in the same run and
//     in rounds whose order rotates. Printed as the median of the per-round ratios (goals:
//     update / raw loop >= 0.85, update / transport alone >= 0.95).
//  2. Peak memory (VmHWM) after the rounds and after a large update (about 120,000 records of a
//     2 MB part): the records are produced one at a time, so only the loaded file should add to it.
//  3. The SHA-256 of the large image, which every update takes before the board is touched,
//     against reading the same file (loadFirmwareFile) and against that image's download.
//  4. CPU time of a real-time restart wait, measured over its first 1000 ticks (10 s), against
//     its wall time (goal below 5 %).
//
// The simulator runs in a child process so that its record of the written image does not count
// in this process's memory.
//
//   orvo-bench-update [records per round (5000)] [rounds (9)] [large update (120000)]
//                     [restart-wait ticks (1000)]
//   orvo-bench-update --count N raw|link|update [--sim ADDR:PORT]
//     N records with one client only, inside measuredExchanges() (for update: one update of an
//     N-record image): the unit that bench/count-per-exchange runs callgrind and strace on.

#include "benchsupport.h"
#include "catalogue.h"
#include "clock.h"
#include "firmwarefiles.h"
#include "hexrecords.h"
#include "manifest.h"
#include "packet.h"
#include "panellink.h"
#include "updater.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

using namespace orvo;
using namespace orvo::bench;

namespace {

constexpr int kPosition = 4; // console "Channel Master 1-8": a HEX board that does not carry the network
const char kAddress[] = "127.0.0.1";

double cpuSeconds()
{
    timespec ts {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

class Quiet : public UpdateReporter
{
public:
    void listLine(RowIcon, const QString &text) override
    {
        if (text == QLatin1String("Updating program memory...  Please wait!"))
            programStart = Wall::now();
        if (text == QLatin1String("Finishing firmware update..."))
            programEnd = Wall::now();
    }
    void progress(bool, int, bool, int, int) override { ++progressCalls; }
    Wall::time_point programStart, programEnd;
    long progressCalls = 0;
};

// --- the three clients, all sending the records of one image

// The records of an image as the update sends them: the bodies and the requests built from them.
struct Records
{
    std::vector<PanelBody> bodies;
    std::vector<QByteArray> requests;
};

Records recordsOf(const QString &path)
{
    Records out;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return out;
    const QByteArray content = f.readAll();
    const PanelSlot slot = panelSlot(Console6170, kPosition);
    PanelBody tx;
    tx.fill(0xFF);
    RecordProducer::begin(tx);
    RecordProducer producer(content, false, kFlashEnd2048);
    for (;;) {
        const RecordStep step = producer.next(tx);
        if (step == RecordStep::Finished || step == RecordStep::Invalid)
            break;
        if (step != RecordStep::Send)
            continue;
        out.bodies.push_back(tx);
        out.requests.push_back(buildPanelRequest(Console6170, programDataRequest(slot, tx)));
    }
    return out;
}

bool boardAnswers(PanelLink &link, const PanelRequest &request, std::uint8_t status)
{
    const PanelExchange exchange = link.exchangePanelPacket(request);
    return exchange.ok && replyMatches(*exchange.reply, ReplyStatus, request.slot)
        && (*exchange.reply)[BodySubCommand] == status;
}

// An empty program memory on the board, as the update leaves it before its first record: into
// the boot loader when it runs its firmware (its restart takes a few ms at the simulator's
// speed-up), then the erase.
bool eraseBoard(PanelLink &link)
{
    const PanelSlot slot = panelSlot(Console6170, kPosition);
    bool inBootLoader = false;
    for (int attempt = 0; attempt < 2000 && !inBootLoader; ++attempt) {
        if (boardAnswers(link, statusQueryRequest(slot), StatusRunning))
            link.exchangePanelPacket(enterBootLoaderRequest(slot));
        else
            inBootLoader = boardAnswers(link, statusQueryRequest(slot), StatusBootLoader);
        if (!inBootLoader)
            link.clock().sleepFor(std::chrono::milliseconds(100)); // 0.1 ms at the speed-up
    }
    return inBootLoader && boardAnswers(link, eraseRequest(slot), StatusErased);
}

int rawLoop(RawExchange &raw, const Records &records)
{
    return measuredExchanges(int(records.requests.size()), [&](int i) {
        raw.setRequest(records.requests[std::size_t(i)]);
        return raw.run() && raw.reply()[kHeaderSize + BodyRoute] == ReplyAccepted;
    });
}

// The same exchanges through the program's transport alone, without the update around it.
int linkLoop(PanelLink &link, const Records &records)
{
    const PanelSlot slot = panelSlot(Console6170, kPosition);
    return measuredExchanges(int(records.bodies.size()), [&](int i) {
        const PanelExchange exchange
            = link.exchangePanelPacket(programDataRequest(slot, records.bodies[std::size_t(i)]));
        return exchange.ok && (*exchange.reply)[BodyRoute] == ReplyAccepted;
    });
}

struct UpdateRun
{
    UpdateResult result = UpdateResult::Failed;
    double programSeconds = 0;
    long progressCalls = 0;
};

UpdateRun runUpdate(PanelLink &link, const QString &path)
{
    const PanelUpdateRequest request = makePanelUpdateRequest(
        QFile::encodeName(path), Console6170, kPosition, panelSlot(Console6170, kPosition), 0, true);
    Quiet reporter;
    UpdateRun run;
    run.result = updatePanelFirmware(link, reporter, request);
    run.programSeconds = seconds(reporter.programStart, reporter.programEnd);
    run.progressCalls = reporter.progressCalls;
    return run;
}

} // namespace

int main(int argc, char **argv)
{
    const BenchArgs args = BenchArgs::parse(argc, argv);
    if (!args.ok || (args.count && args.mode != "raw" && args.mode != "link" && args.mode != "update")) {
        std::fprintf(stderr,
            "usage: orvo-bench-update [records-per-round] [rounds] [large-update] [wait-ticks]\n"
            "       orvo-bench-update --count N raw|link|update [--sim ADDR:PORT]\n");
        return 2;
    }
    const int perRound = args.number(0, 5000);
    const int rounds = args.number(1, 9);
    const int large = args.number(2, 120000);
    const int waitTicks = args.number(3, 1000);
    const std::string address = args.address(kAddress);

    // Before any thread exists: the simulator's process.
    SimulatorProcess simulator;
    if (!simulator.start(args, devsim::defaultDevice(Console6170, QString::fromLatin1(kAddress)), 1000.0)) {
        std::fprintf(stderr, "could not start the simulator\n");
        return 1;
    }

    useWorkerThreadEventLoop();
    QCoreApplication app(argc, argv);
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {}); // debug lines off
    QTemporaryDir dir;

    ScaledClock fast(1000.0); // the restart waits and pauses; the downloads run at full speed
    PanelLink link(fast, {});
    link.setTarget({ QString::fromStdString(address), simulator.port(), std::uint16_t(Console6170) });
    link.setCatalogueType(Console6170);
    RawExchange raw(address.c_str(), simulator.port(), QByteArray());

    if (args.count) {
        const QString path = dir.path() + QStringLiteral("/image.hex");
        const Records records = writeImage(path, args.count) ? recordsOf(path) : Records {};
        if (int(records.requests.size()) != args.count || (args.mode != "update" && !eraseBoard(link))) {
            std::fprintf(stderr, "could not prepare the image or the board\n");
            return 1;
        }
        int failures = 0;
        if (args.mode == "raw")
            failures = rawLoop(raw, records);
        else if (args.mode == "link")
            failures = linkLoop(link, records);
        else
            failures
                = measuredExchanges(1, [&](int) { return runUpdate(link, path).result == UpdateResult::Successful; });
        std::printf("%d records (%s), failures %d\n", args.count, args.mode.c_str(), failures);
        return failures ? 1 : 0;
    }

    const long hwmStart = vmHwmKb();
    const QString roundPath = dir.path() + QStringLiteral("/round.hex");
    const Records records = writeImage(roundPath, perRound) ? recordsOf(roundPath) : Records {};
    if (int(records.requests.size()) != perRound) {
        std::fprintf(stderr, "could not write the image\n");
        return 1;
    }

    // Rounds whose order rotates, so that all three see the same load on a shared machine.
    std::vector<double> overRaw, overLink, linkOverRaw;
    double rawSum = 0, linkSum = 0, updateSum = 0;
    int failures = 0;
    for (int r = 0; r < rounds; ++r) {
        double rawRate = 0, linkRate = 0, updateRate = 0;
        // A loop of the round's records after an erase, as the update sends them after its own.
        const auto loopRate = [&](auto &&loop) {
            failures += eraseBoard(link) ? 0 : 1;
            const Wall::time_point t0 = Wall::now();
            failures += loop();
            return perRound / seconds(t0, Wall::now());
        };
        for (int k = 0; k < 3; ++k) {
            const int which = (r + k) % 3;
            if (which == 0) {
                rawRate = loopRate([&] { return rawLoop(raw, records); });
            } else if (which == 1) {
                linkRate = loopRate([&] { return linkLoop(link, records); });
            } else {
                const UpdateRun run = runUpdate(link, roundPath);
                failures += run.result == UpdateResult::Successful ? 0 : 1;
                updateRate = run.programSeconds > 0 ? perRound / run.programSeconds : 0;
            }
        }
        rawSum += rawRate;
        linkSum += linkRate;
        updateSum += updateRate;
        overRaw.push_back(updateRate / rawRate);
        overLink.push_back(updateRate / linkRate);
        linkOverRaw.push_back(linkRate / rawRate);
    }
    const long hwmRounds = vmHwmKb();

    const QString largePath = dir.path() + QStringLiteral("/large.hex");
    const bool largeWritten = writeImage(largePath, large);
    const long largeFileKb = long(QFileInfo(largePath).size() / 1024);
    const UpdateRun largeRun = largeWritten ? runUpdate(link, largePath) : UpdateRun {};
    const long hwmLarge = vmHwmKb();
    // Median of a few repetitions each; the file is in the page cache after the update read it.
    std::vector<double> readMs, hashMs;
    for (int i = 0; i < 7 && largeWritten; ++i) {
        QByteArray content;
        const Wall::time_point t0 = Wall::now();
        loadFirmwareFile(QFile::encodeName(largePath), false, content);
        const Wall::time_point t1 = Wall::now();
        const QByteArray digest = sha256Hex(content);
        const Wall::time_point t2 = Wall::now();
        failures += digest.size() == 64 ? 0 : 1;
        readMs.push_back(1000.0 * seconds(t0, t1));
        hashMs.push_back(1000.0 * seconds(t1, t2));
    }
    QFile::remove(largePath);

    SimulatorStats stats;
    simulator.stats(kPosition, stats);

    std::printf("download: %d rounds of %d records each for the raw loop, the transport alone and the update "
                "(failures %d)\n",
        rounds, perRound, failures);
    std::printf("  mean rates: raw loop %.0f/s, transport alone %.0f/s, update %.0f records/s\n", rawSum / rounds,
        linkSum / rounds, updateSum / rounds);
    std::printf("  median ratio update / raw loop        %.2f (goal >= 0.85)\n", median(overRaw));
    std::printf(
        "  median ratio update / transport alone %.2f (goal >= 0.95; what the update adds)\n", median(overLink));
    std::printf("  median ratio transport alone / raw    %.2f\n", median(linkOverRaw));
    std::printf("  large update: %d records, result %d, %.0f records/s, %ld progress values\n", large,
        int(largeRun.result), largeRun.programSeconds > 0 ? large / largeRun.programSeconds : 0.0,
        largeRun.progressCalls);
    std::printf("  simulator: %d records accepted, %d checksum errors, %d violations (expected %d accepted)\n",
        stats.recordsAccepted, stats.checksumErrors, stats.violations, 3 * rounds * perRound + large);
    std::printf("memory (VmHWM): %ld kB at start, %ld kB after the rounds (file %ld kB), %ld kB after the large "
                "update (file %ld kB)\n",
        hwmStart, hwmRounds, long(QFileInfo(roundPath).size() / 1024), hwmLarge, largeFileKb);
    if (!hashMs.empty()) {
        std::printf("sha-256 of the large image (%ld kB): %.1f ms, reading it %.1f ms: ratio hash / read %.2f; "
                    "hash / its download %.4f\n",
            largeFileKb, median(hashMs), median(readMs), median(hashMs) / median(readMs),
            largeRun.programSeconds > 0 ? median(hashMs) / 1000.0 / largeRun.programSeconds : 0.0);
    }

    // Real time now: a board without the network's restart, stopped after `waitTicks` ticks.
    Quiet waitReporter;
    PanelLink realLink(Clock::real(), [&] { return waitReporter.progressCalls >= waitTicks; });
    const double cpu0 = cpuSeconds();
    const Wall::time_point w0 = Wall::now();
    restartWait(realLink, waitReporter, false);
    const double wall = seconds(w0, Wall::now());
    const double cpu = cpuSeconds() - cpu0;
    std::printf("restart wait: %ld ticks in %.2f s wall, %.3f s CPU = %.2f %% (goal < 5 %%)\n",
        waitReporter.progressCalls, wall, cpu, 100.0 * cpu / wall);

    const int violations = simulator.stop();
    const bool ok = failures == 0 && largeRun.result == UpdateResult::Successful && violations == 0
        && stats.recordsAccepted == 3 * rounds * perRound + large;
    return ok ? 0 : 1;
}
