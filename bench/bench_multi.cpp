// orvo-bench-multi: the auto update of several devices, one after the other against all at once.
//
//  1. Eight simulated devices (four consoles, four Lumivox units), each with some boards out of
//     date, are auto-updated by orvo-updater-cli one device per run, one run after the other;
//     then all eight in one run with --parallel 8. Printed: each device's time, their sum, the
//     slowest one, the parallel run's time and its ratio to the slowest device (goal <= 1.25).
//  2. The same with sixteen devices and --parallel 16: the program's peak memory (goal < 60 MB).
//  Peak memory (ru_maxrss) and CPU time (user + system) are the program's own, from wait4().
//
// Board timing. The program waits what the boot loaders need whatever the board does (30 s
// after entering the boot loader, up to 105 s after leaving it, probing every 30 s); the
// simulated boards restart in 8 s, what a PIC32 board with its network stack takes to answer
// again, and every reply comes 3 ms after the request, the turnaround of the boards' network
// processor. Both run `speed-up` times faster in the program and the simulator alike (default
// 20, so a console's quarter of an hour takes under a minute); the download itself is not sped
// up, so the images are made short (1000 HEX records, 200 FPGA chunks) to keep its share of a
// board's time near a real one's.
//
// The simulator runs in a child process, so that neither its threads nor its memory count.
//
//   orvo-bench-multi [speed-up (20)]

#include "catalogue.h"
#include "demofirmware.h"
#include "simulator.h"

#include <QCoreApplication>
#include <QStringList>
#include <QTemporaryDir>

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

using namespace orvo;
using namespace orvo::devsim;

namespace {

constexpr int kRestartMs = 8000;
constexpr int kReplyDelayMs = 3;

struct Run
{
    int status = -1;
    double wallSeconds = 0;
    double cpuSeconds = 0;
    long peakKb = 0;
};

// Device i: consoles on even i with two or three boards out of date, Lumivox units on odd i
// with their one board out of date.
DeviceConfig benchDevice(int i)
{
    static const int lumivox[] = { LumivoxKvr10, LumivoxTx512, LumivoxKvr30 };
    const int type = i % 2 == 0 ? int(Console6170) : lumivox[(i / 2) % 3];
    DeviceConfig d = defaultDevice(type, QStringLiteral("127.0.0.%1").arg(20 + i));
    d.mac[5] = static_cast<std::uint8_t>(i + 1);
    d.name = QByteArray("Bench ") + QByteArray::number(i + 1);
    // A Lumivox unit has one board, which also carries the unit's network.
    const std::vector<int> outdated = type != Console6170
        ? std::vector<int> { 0 }
        : (i % 4 == 0 ? std::vector<int> { 4, 12, 17 } : std::vector<int> { 5, 17 });
    for (BoardConfig &b : d.boards)
        b.restartMs = kRestartMs;
    for (int p : outdated) {
        if (p < slotCount(type)) {
            BoardConfig &b = d.boards[static_cast<std::size_t>(p)];
            b.version = static_cast<std::uint8_t>(b.version > 0 ? b.version - 1 : 1);
        }
    }
    return d;
}

// Forks the simulator of `count` devices; returns its pid, with its port in `port` and the
// pipe that stops it in `stopFd`.
pid_t forkSimulator(int count, double speedUp, std::uint16_t &port, int &stopFd)
{
    int toParent[2], toChild[2];
    if (::pipe(toParent) != 0 || ::pipe(toChild) != 0)
        return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(toParent[0]);
        ::close(toChild[1]);
        Simulator sim(speedUp);
        for (int i = 0; i < count; ++i) {
            const int id = sim.addDevice(benchDevice(i));
            Fault delay;
            delay.kind = FaultKind::DelayReply;
            delay.param = kReplyDelayMs;
            sim.addFault(id, delay);
        }
        std::uint16_t p = sim.start(0) ? sim.port() : 0;
        [[maybe_unused]] ssize_t n = ::write(toParent[1], &p, sizeof p);
        char c;
        while (::read(toChild[0], &c, 1) > 0) { }
        sim.stop();
        ::_exit(0);
    }
    ::close(toParent[1]);
    ::close(toChild[0]);
    port = 0;
    if (::read(toParent[0], &port, sizeof port) != sizeof port)
        port = 0;
    ::close(toParent[0]);
    stopFd = toChild[1];
    return pid;
}

void stopSimulator(pid_t pid, int stopFd)
{
    ::close(stopFd);
    int status = 0;
    ::waitpid(pid, &status, 0);
}

Run runCli(const QStringList &arguments)
{
    std::vector<QByteArray> bytes;
    bytes.push_back(QByteArrayLiteral(ORVO_CLI_PATH));
    for (const QString &a : arguments)
        bytes.push_back(a.toLocal8Bit());
    std::vector<char *> argv;
    for (QByteArray &b : bytes)
        argv.push_back(b.data());
    argv.push_back(nullptr);
    const auto started = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int null = ::open("/dev/null", O_RDWR);
        ::dup2(null, 0);
        ::dup2(null, 1);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    Run run;
    int status = 0;
    rusage usage {};
    ::wait4(pid, &status, 0, &usage);
    run.wallSeconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.cpuSeconds = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
    run.peakKb = usage.ru_maxrss;
    return run;
}

QStringList addresses(int count)
{
    QStringList list;
    for (int i = 0; i < count; ++i)
        list << QStringLiteral("127.0.0.%1").arg(20 + i);
    return list;
}

} // namespace

int main(int argc, char *argv[])
{
    const double speedUp = argc > 1 ? std::atof(argv[1]) : 20.0;
    if (!(speedUp >= 1.0)) {
        std::fprintf(stderr, "usage: orvo-bench-multi [speed-up >= 1]\n");
        return 2;
    }
    // The simulators are forked before any thread exists.
    std::uint16_t port8 = 0, port16 = 0;
    int stop8 = -1, stop16 = -1;
    const pid_t sim8 = forkSimulator(8, speedUp, port8, stop8);
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString firmware = dir.filePath(QStringLiteral("HexFiles"));
    QString error;
    if (sim8 < 0 || port8 == 0 || demo::writeDemoFirmware(firmware, &error, 1000, 200) <= 0) {
        std::fprintf(stderr, "orvo-bench-multi: setup failed %s\n", qPrintable(error));
        return 1;
    }
    const auto common = [&](std::uint16_t port) {
        return QStringList { "auto-update", "--yes", "--port", QString::number(port), "--speed-up",
            QString::number(speedUp), "--firmware", firmware, "--history", dir.filePath(QStringLiteral("h.jsonl")) };
    };

    std::printf("speed-up %.0f, boards restart in %d ms, replies after %d ms (device time)\n", speedUp, kRestartMs,
        kReplyDelayMs);
    double sum = 0, slowest = 0, cpu = 0;
    long peak = 0;
    bool ok = true;
    for (const QString &a : addresses(8)) {
        const Run r = runCli(common(port8) << a);
        std::printf("  one device  %-12s %7.1f s  status %d  cpu %5.2f s  peak %5.1f MB\n", qPrintable(a),
            r.wallSeconds, r.status, r.cpuSeconds, r.peakKb / 1024.0);
        ok = ok && r.status == 0;
        sum += r.wallSeconds;
        slowest = std::max(slowest, r.wallSeconds);
        cpu += r.cpuSeconds;
        peak = std::max(peak, r.peakKb);
    }
    stopSimulator(sim8, stop8);
    std::printf("one after the other: %.1f s (slowest device %.1f s), cpu %.2f s, peak %.1f MB\n", sum, slowest, cpu,
        peak / 1024.0);

    // A fresh set of the same devices, all out of date again.
    const pid_t again = forkSimulator(8, speedUp, port8, stop8);
    const Run all = runCli(common(port8) << "--parallel"
                                         << "8" << addresses(8));
    stopSimulator(again, stop8);
    ok = ok && all.status == 0;
    std::printf("--parallel 8:        %.1f s, status %d, cpu %.2f s, peak %.1f MB\n", all.wallSeconds, all.status,
        all.cpuSeconds, all.peakKb / 1024.0);
    std::printf("  parallel / slowest device = %.3f (goal <= 1.25); one after the other / parallel = %.2f\n",
        all.wallSeconds / slowest, sum / all.wallSeconds);

    const pid_t sim16 = forkSimulator(16, speedUp, port16, stop16);
    const Run sixteen = runCli(common(port16) << "--parallel"
                                              << "16" << addresses(16));
    stopSimulator(sim16, stop16);
    ok = ok && sixteen.status == 0;
    std::printf("16 devices, --parallel 16: %.1f s, status %d, cpu %.2f s, peak %.1f MB (goal < 60 MB)\n",
        sixteen.wallSeconds, sixteen.status, sixteen.cpuSeconds, sixteen.peakKb / 1024.0);
    return ok ? 0 : 1;
}
