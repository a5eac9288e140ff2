// orvo-bench_update: the firmware download against the device simulator.
//
//  1. Records per second of a full update of a 2 MB-part image (about 120,000 records, no device
//     delay) against a raw exchange loop (plain sockets: connect, send 76, receive 76, close) to
//     the same simulated board, measured in the same run and printed as a ratio (goal >= 0.8).
//  2. Peak memory (VmHWM) after a small and after a large update: the records are produced one
//     at a time, so only the loaded file should add to it.
//  3. CPU time of a real-time restart wait, measured over its first 1000 ticks (10 s), against
//     its wall time (goal below 5 %).
//
// The simulator runs in a child process so that its record of the written image does not count
// in this process's memory.
//
//   orvo-bench-update [records (120000)] [raw exchanges (20000)] [restart-wait ticks (1000)]

#include "hexrecords.h"
#include "protocol/catalogue.h"
#include "protocol/clock.h"
#include "protocol/packet.h"
#include "protocol/panellink.h"
#include "simulator.h"
#include "updater.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

using namespace orvo;

namespace {

constexpr int kPosition = 4; // console "Channel Master 1-8": a HEX board that does not carry the network
constexpr int kRecordBytes = 16;

using Wall = std::chrono::steady_clock;

double seconds(Wall::time_point a, Wall::time_point b) { return std::chrono::duration<double>(b - a).count(); }

double cpuSeconds()
{
    timespec ts {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

long vmHwmKb()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLong();
    }
    return -1;
}

QByteArray record(std::uint16_t address, std::uint8_t type, const QByteArray &data)
{
    QByteArray bytes;
    bytes.append(char(data.size())).append(char(address >> 8)).append(char(address & 0xFF)).append(char(type));
    bytes.append(data);
    unsigned sum = 0;
    for (char c : bytes)
        sum += std::uint8_t(c);
    bytes.append(char((0x100 - (sum & 0xFF)) & 0xFF));
    return QByteArray(":").append(bytes.toHex().toUpper()).append("\r\n");
}

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
            QByteArray u;
            u.append(char(upper >> 8)).append(char(upper & 0xFF));
            f.write(record(0, 4, u));
        }
        for (int i = 0; i < kRecordBytes; ++i)
            data[i] = char((r * 7 + i * 13) & 0xFF);
        f.write(record(std::uint16_t(address & 0xFFFF), 0, data));
        address += kRecordBytes;
    }
    f.write(record(0, 1, QByteArray()));
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

// --- the simulator's process

struct Child
{
    pid_t pid = -1;
    int toChild = -1;
    int fromChild = -1;
    std::uint16_t port = 0;
};

void runSimulator(int in, int out)
{
    devsim::DeviceConfig config = devsim::defaultDevice(Console6170, QStringLiteral("127.0.0.1"));
    config.boards[kPosition].state = devsim::BoardState::BootLoader; // the raw loop writes first
    devsim::Simulator sim(1000.0);
    sim.addDevice(config);
    if (!sim.start()) {
        _exit(1);
    }
    const std::uint16_t port = sim.port(0);
    if (write(out, &port, sizeof port) != sizeof port)
        _exit(1);
    char c = 0;
    while (read(in, &c, 1) == 1) {
        if (c == 's') {
            const devsim::BoardSnapshot b = sim.snapshot(0).boards[kPosition];
            const int stats[3] = { b.recordsAccepted, b.checksumErrors, int(sim.violations().size()) };
            if (write(out, stats, sizeof stats) != sizeof stats)
                break;
        } else if (c == 'q') {
            break;
        }
    }
    sim.stop();
    _exit(0);
}

bool startSimulator(Child &child)
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
        runSimulator(down[0], up[1]);
    }
    close(down[0]);
    close(up[1]);
    child.toChild = down[1];
    child.fromChild = up[0];
    return read(child.fromChild, &child.port, sizeof child.port) == sizeof child.port;
}

bool simulatorStats(Child &child, int stats[3])
{
    return write(child.toChild, "s", 1) == 1 && read(child.fromChild, stats, 3 * sizeof(int)) == 3 * sizeof(int);
}

// --- the raw exchange loop

double rawExchangesPerSecond(std::uint16_t port, int exchanges)
{
    PanelBody tx;
    tx.fill(0xFF);
    RecordProducer::begin(tx);
    const QByteArray file = record(0, 4, QByteArray::fromHex("1D00")) + record(0, 0, QByteArray(16, '\x5A'));
    RecordProducer producer(file, false, kFlashEnd2048);
    producer.next(tx);
    producer.next(tx);
    const PanelSlot slot = panelSlot(Console6170, kPosition);
    const QByteArray request = buildPanelRequest(Console6170, RouteProgramData, slot.channel, slot.panel,
                                                 std::uint8_t(tx[9] + 11), 0, 0, slot.boardType, slot.boardAddress, &tx);
    sockaddr_in addr {};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const Wall::time_point start = Wall::now();
    for (int i = 0; i < exchanges; ++i) {
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        if (fd < 0 || connect(fd, reinterpret_cast<const sockaddr *>(&addr), sizeof addr) != 0) {
            std::fprintf(stderr, "raw loop: connect failed\n");
            return 0;
        }
        if (send(fd, request.constData(), std::size_t(request.size()), 0) != request.size()) {
            std::fprintf(stderr, "raw loop: send failed\n");
            return 0;
        }
        char reply[kPanelPacketSize];
        std::size_t got = 0;
        while (got < sizeof reply) {
            const ssize_t n = recv(fd, reply + got, sizeof reply - got, 0);
            if (n <= 0)
                break;
            got += std::size_t(n);
        }
        close(fd);
        if (got != sizeof reply || reply[kHeaderSize + 1] != char(ReplyAccepted)) {
            std::fprintf(stderr, "raw loop: no acceptance\n");
            return 0;
        }
    }
    return exchanges / seconds(start, Wall::now());
}

// The same exchange through the program's transport alone, without the update around it.
double linkExchangesPerSecond(PanelLink &link, int exchanges)
{
    const QByteArray file = record(0, 4, QByteArray::fromHex("1D00")) + record(0, 0, QByteArray(16, '\x5A'));
    link.txBody.fill(0xFF);
    RecordProducer::begin(link.txBody);
    RecordProducer producer(file, false, kFlashEnd2048);
    producer.next(link.txBody);
    producer.next(link.txBody);
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
    const PanelSlot slot = panelSlot(Console6170, kPosition);
    PanelUpdateRequest request;
    request.path = QFile::encodeName(path);
    request.deviceType = Console6170;
    request.panelIndex = kPosition;
    request.panel = slot.panel;
    request.channel = slot.channel;
    request.boardType = slot.boardType;
    request.boardAddress = slot.boardAddress;
    request.picType = 0;
    request.verbose = true;
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
    Child child;
    if (!startSimulator(child)) {
        std::fprintf(stderr, "could not start the simulator\n");
        return 1;
    }

    QCoreApplication app(argc, argv);
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext &, const QString &) {}); // debug lines off
    QTemporaryDir dir;

    // Raw loop first: the board sits in its boot loader and takes records.
    const double raw = rawExchangesPerSecond(child.port, rawExchanges);

    ScaledClock fast(1000.0); // the restart waits and pauses; the downloads run at full speed
    PanelLink link(fast, {});
    link.setTarget({ QStringLiteral("127.0.0.1"), child.port, std::uint16_t(Console6170) });
    link.setCatalogueType(Console6170);

    const double viaLink = linkExchangesPerSecond(link, rawExchanges);

    const int small = records / 24 > 0 ? records / 24 : 1;
    const long hwmBefore = vmHwmKb();
    const UpdateRun smallRun = runUpdate(link, dir.path(), small);
    const UpdateRun largeRun = runUpdate(link, dir.path(), records);

    int stats[3] = { -1, -1, -1 };
    simulatorStats(child, stats);

    std::printf("download: %d records in the update (2 MB part), result %d; %d records in the small one, result %d\n",
                records, largeRun.result, small, smallRun.result);
    std::printf("  update   %.0f records/s\n", largeRun.recordsPerSecond);
    std::printf("  raw loop %.0f exchanges/s (%d exchanges)\n", raw, rawExchanges);
    std::printf("  transport alone (PanelLink::exchangePanelPacket loop) %.0f exchanges/s\n", viaLink);
    std::printf("  ratio update / raw loop        %.2f (goal >= 0.80)\n", raw > 0 ? largeRun.recordsPerSecond / raw : 0.0);
    std::printf("  ratio update / transport alone %.2f (what the update adds to its exchanges)\n",
                viaLink > 0 ? largeRun.recordsPerSecond / viaLink : 0.0);
    std::printf("  simulator: %d records accepted, %d checksum errors, %d violations (expected %d accepted)\n",
                stats[0], stats[1], stats[2], 2 * rawExchanges + small + records);
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

    if (write(child.toChild, "q", 1) != 1)
        kill(child.pid, SIGTERM);
    int status = 0;
    waitpid(child.pid, &status, 0);
    return largeRun.result == UpdateSuccessful && smallRun.result == UpdateSuccessful ? 0 : 1;
}
