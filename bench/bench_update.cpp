// orvo-bench_update: the firmware download against the device simulator.
//
//  1. Records per second of a full update of a 2 MB-part image (about 120,000 records, no device
//     delay) against a raw exchange loop (plain sockets: connect, send 76, receive 76, close; the
//     exchange benchmark's baseline client) to the same simulated board, measured in the same run
//     and printed as a ratio (goal >= 0.8).
//  2. Peak memory (VmHWM) after a small and after a large update: the records are produced one
//     at a time, so only the loaded file should add to it.
//  3. CPU time of a real-time restart wait, measured over its first 1000 ticks (10 s), against
//     its wall time (goal below 5 %).
//
// The simulator runs in a child process so that its record of the written image does not count
// in this process's memory.
//
//   orvo-bench-update [records (120000)] [raw exchanges (20000)] [restart-wait ticks (1000)]

#include "benchsupport.h"
#include "hexrecords.h"
#include "protocol/catalogue.h"
#include "protocol/clock.h"
#include "protocol/packet.h"
#include "protocol/panellink.h"
#include "tests/firmware/hexfile.h"
#include "updater.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>
#include <cstdlib>
#include <ctime>

using namespace orvo;
using namespace orvo::bench;
using orvo::testing::endOfFile;
using orvo::testing::extendedAddress;
using orvo::testing::hexRecord;

namespace {

constexpr int kPosition = 4; // console "Channel Master 1-8": a HEX board that does not carry the network
constexpr int kRecordBytes = 16;
const char kAddress[] = "127.0.0.1";

double cpuSeconds()
{
    timespec ts {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

// One record line as a file on disk holds it.
QByteArray line(const QByteArray &record) { return record + "\r\n"; }

// A program image of `records` 16-byte records from 0x1D000000, written straight to disk.
bool writeImage(const QString &path, int records)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    std::uint32_t address = 0x1D000000;
    std::uint32_t upper = 0xFFFFFFFF;
    QByteArray data(kRecordBytes, '\0');
    for (int r = 0; r < records; ++r) {
        if ((address >> 16) != upper) {
            upper = address >> 16;
            f.write(line(extendedAddress(std::uint16_t(upper))));
        }
        for (int i = 0; i < kRecordBytes; ++i)
            data[i] = char((r * 7 + i * 13) & 0xFF);
        f.write(line(hexRecord(std::uint16_t(address & 0xFFFF), 0, data)));
        address += kRecordBytes;
    }
    f.write(line(endOfFile()));
    return true;
}

class Quiet : public UpdateReporter
{
public:
    void listLine(int, const QString &text) override
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

// --- the raw exchange loop

// The first data record of a small image in `tx`, as the update sends it.
void firstDataRecord(PanelBody &tx)
{
    const QByteArray file = line(extendedAddress(0x1D00)) + line(hexRecord(0, 0, QByteArray(16, '\x5A')));
    tx.fill(0xFF);
    RecordProducer::begin(tx);
    RecordProducer producer(file, false, kFlashEnd2048);
    producer.next(tx);
    producer.next(tx);
}

double rawExchangesPerSecond(std::uint16_t port, int exchanges)
{
    PanelBody tx;
    firstDataRecord(tx);
    const PanelSlot slot = panelSlot(Console6170, kPosition);
    RawExchange raw(kAddress, port,
                    buildPanelRequest(Console6170, RouteProgramData, slot.channel, slot.panel, std::uint8_t(tx[9] + 11),
                                      0, 0, slot.boardType, slot.boardAddress, &tx));
    const Wall::time_point start = Wall::now();
    for (int i = 0; i < exchanges; ++i) {
        if (!raw.run()) {
            std::fprintf(stderr, "raw loop: %s\n", raw.failure());
            return 0;
        }
        if (raw.reply()[kHeaderSize + 1] != ReplyAccepted) {
            std::fprintf(stderr, "raw loop: no acceptance\n");
            return 0;
        }
    }
    return exchanges / seconds(start, Wall::now());
}

// The same exchange through the program's transport alone, without the update around it.
double linkExchangesPerSecond(PanelLink &link, int exchanges)
{
    firstDataRecord(link.txBody);
    const PanelSlot slot = panelSlot(Console6170, kPosition);
    const Wall::time_point start = Wall::now();
    for (int i = 0; i < exchanges; ++i) {
        if (!link.exchangePanelPacket(RouteProgramData, slot.channel, slot.panel, std::uint8_t(link.txBody[9] + 11), 0,
                                      0, slot.boardType, slot.boardAddress, true, 5000)
            || link.replyBody[1] != ReplyAccepted) {
            std::fprintf(stderr, "link loop: no acceptance\n");
            return 0;
        }
    }
    return exchanges / seconds(start, Wall::now());
}

struct UpdateRun
{
    int result = -1;
    double recordsPerSecond = 0;
    long hwmKb = 0;
    long fileKb = 0;
};

UpdateRun runUpdate(PanelLink &link, const QString &folder, int records)
{
    const QString path = folder + QStringLiteral("/image_%1.hex").arg(records);
    UpdateRun run;
    if (!writeImage(path, records))
        return run;
    run.fileKb = long(QFileInfo(path).size() / 1024);
    const PanelUpdateRequest request = makePanelUpdateRequest(QFile::encodeName(path), Console6170, kPosition,
                                                              panelSlot(Console6170, kPosition), 0, true);
    Quiet reporter;
    run.result = updatePanelFirmware(link, reporter, request);
    run.recordsPerSecond = records / seconds(reporter.programStart, reporter.programEnd);
    run.hwmKb = vmHwmKb();
    QFile::remove(path);
    return run;
}

} // namespace

int main(int argc, char **argv)
{
    const int records = argc > 1 ? std::atoi(argv[1]) : 120000;
    const int rawExchanges = argc > 2 ? std::atoi(argv[2]) : 20000;
    const int waitTicks = argc > 3 ? std::atoi(argv[3]) : 1000;

    // Before any thread exists: the simulator's process.
    devsim::DeviceConfig device = devsim::defaultDevice(Console6170, QString::fromLatin1(kAddress));
    device.boards[kPosition].state = devsim::BoardState::BootLoader; // the raw loop writes first
    SimulatorProcess simulator;
    if (!simulator.start(device, 1000.0)) {
        std::fprintf(stderr, "could not start the simulator\n");
        return 1;
    }

    QCoreApplication app(argc, argv);
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {}); // debug lines off
    QTemporaryDir dir;

    // Raw loop first: the board sits in its boot loader and takes records.
    const double raw = rawExchangesPerSecond(simulator.port(), rawExchanges);

    ScaledClock fast(1000.0); // the restart waits and pauses; the downloads run at full speed
    PanelLink link(fast, {});
    link.setTarget({ QString::fromLatin1(kAddress), simulator.port(), std::uint16_t(Console6170) });
    link.setCatalogueType(Console6170);

    const double viaLink = linkExchangesPerSecond(link, rawExchanges);

    const int small = records / 24 > 0 ? records / 24 : 1;
    const long hwmBefore = vmHwmKb();
    const UpdateRun smallRun = runUpdate(link, dir.path(), small);
    const UpdateRun largeRun = runUpdate(link, dir.path(), records);

    SimulatorStats stats;
    simulator.stats(kPosition, stats);

    std::printf("download: %d records in the update (2 MB part), result %d; %d records in the small one, result %d\n",
                records, largeRun.result, small, smallRun.result);
    std::printf("  update   %.0f records/s\n", largeRun.recordsPerSecond);
    std::printf("  raw loop %.0f exchanges/s (%d exchanges)\n", raw, rawExchanges);
    std::printf("  transport alone (PanelLink::exchangePanelPacket loop) %.0f exchanges/s\n", viaLink);
    std::printf("  ratio update / raw loop        %.2f (goal >= 0.80)\n", raw > 0 ? largeRun.recordsPerSecond / raw : 0.0);
    std::printf("  ratio update / transport alone %.2f (what the update adds to its exchanges)\n",
                viaLink > 0 ? largeRun.recordsPerSecond / viaLink : 0.0);
    std::printf("  simulator: %d records accepted, %d checksum errors, %d violations (expected %d accepted)\n",
                stats.recordsAccepted, stats.checksumErrors, stats.violations, 2 * rawExchanges + small + records);
    std::printf("memory (VmHWM): %ld kB before, %ld kB after %d records (file %ld kB), %ld kB after %d records (file %ld kB)\n",
                hwmBefore, smallRun.hwmKb, small, smallRun.fileKb, largeRun.hwmKb, records, largeRun.fileKb);
    std::printf("  growth from small to large: %ld kB for %ld kB more file\n", largeRun.hwmKb - smallRun.hwmKb,
                largeRun.fileKb - smallRun.fileKb);

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

    simulator.stop();
    return largeRun.result == UpdateSuccessful && smallRun.result == UpdateSuccessful ? 0 : 1;
}
