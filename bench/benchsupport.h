#pragma once

// What both benchmarks share: the device simulator in a child process (or one already running),
// the raw exchange they measure the program against, the median of per-round ratios, the count
// mode that the instruction and system-call counts run, and the process's peak memory.

#include "hexfile.h"
#include "packet.h"
#include "simulator.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace orvo::bench {

/// A program image of `records` 16-byte records from 0x1D000000, written line by line (its
/// folder made when missing).
inline bool writeImage(const QString &path, int records)
{
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    constexpr int kBytes = 16;
    std::uint32_t address = 0x1D000000;
    std::uint32_t upper = 0xFFFFFFFF;
    QByteArray data(kBytes, '\0');
    for (int r = 0; r < records; ++r) {
        if ((address >> 16) != upper) {
            upper = address >> 16;
            f.write(testing::extendedAddress(std::uint16_t(upper)) + "\r\n");
        }
        for (int i = 0; i < kBytes; ++i)
            data[i] = char((r * 7 + i * 13) & 0xFF);
        f.write(testing::hexRecord(std::uint16_t(address & 0xFFFF), 0, data) + "\r\n");
        address += kBytes;
    }
    return f.write(testing::endOfFile() + "\r\n") > 0;
}

/// The clients of the exchange and update benchmarks run in the main thread, standing in for the
/// programs' worker thread: this gives it the event dispatcher that thread runs in the programs
/// (Qt's plain one, see preferPlainWorkerEventLoop). Call before the application object exists.
/// `QT_NO_GLIB=` (set, empty) on the command line measures the GLib dispatcher instead.
inline void useWorkerThreadEventLoop()
{
    if (!qEnvironmentVariableIsSet("QT_NO_GLIB"))
        qputenv("QT_NO_GLIB", "1");
}

using Wall = std::chrono::steady_clock;

inline double seconds(Wall::time_point from, Wall::time_point to)
{
    return std::chrono::duration<double>(to - from).count();
}

/// Peak resident memory of this process in kB (VmHWM), -1 when it cannot be read.
inline long vmHwmKb()
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

/// Median of per-round ratios: the figure that a load change on a shared machine moves least.
inline double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

/// The exchanges that the instruction and system-call counts cover: `exchange(i)` for i below
/// `count`, the failures counted. Kept out of line so that callgrind can switch its collection on
/// and off at its entry and exit (--toggle-collect=*measuredExchanges*).
template <typename Exchange>
__attribute__((noinline)) int measuredExchanges(int count, Exchange &&exchange)
{
    int failures = 0;
    for (int i = 0; i < count; ++i) {
        if (!exchange(i))
            ++failures;
    }
    return failures;
}

/// The command line of a benchmark: positional numbers for the timed run, or
/// `--count N MODE` for a fixed number of exchanges of one client only (what callgrind and
/// strace are run on, see bench/count-per-exchange), optionally against a simulator that already
/// runs (`--sim ADDR:PORT`, e.g. an orvo-devsim outside valgrind) instead of a forked one.
struct BenchArgs
{
    std::vector<int> numbers; ///< positional arguments, each at least 1
    int count = 0;            ///< 0: the timed run
    std::string mode;         ///< client of the count mode
    std::string simAddress;   ///< empty: fork a simulator
    std::uint16_t simPort = 0;
    bool ok = true;

    int number(std::size_t i, int fallback) const { return i < numbers.size() ? numbers[i] : fallback; }
    /// The simulated device's address: the running simulator's, else `own` (the forked one's).
    std::string address(const char *own) const { return simAddress.empty() ? std::string(own) : simAddress; }

    static BenchArgs parse(int argc, char **argv)
    {
        BenchArgs a;
        for (int i = 1; i < argc; ++i) {
            const std::string arg = argv[i];
            if (arg == "--count" && i + 2 < argc) {
                a.count = std::max(1, std::atoi(argv[++i]));
                a.mode = argv[++i];
            } else if (arg == "--sim" && i + 1 < argc) {
                const std::string v = argv[++i];
                const std::size_t colon = v.rfind(':');
                a.ok = a.ok && colon != std::string::npos;
                if (colon != std::string::npos) {
                    a.simAddress = v.substr(0, colon);
                    a.simPort = static_cast<std::uint16_t>(std::atoi(v.c_str() + colon + 1));
                }
            } else if (!arg.empty() && arg[0] != '-') {
                a.numbers.push_back(std::max(1, std::atoi(arg.c_str())));
            } else {
                a.ok = false;
            }
        }
        return a;
    }
};

/// Counters of one simulated board, and the simulator's protocol violations; -1 where unknown.
struct SimulatorStats
{
    int recordsAccepted = -1;
    int checksumErrors = -1;
    int violations = -1;
};

/// One simulated device served by a forked child, so that the simulator's own bookkeeping
/// counts neither in this process's memory nor in its threads. Start it before Qt or any thread
/// exists. The parent talks to the child over two pipes: the port comes first; then 's' and a
/// position byte ask for the counters of that board (three ints back); the end of the pipe stops
/// the simulator, and the child sends its violation count and exits.
class SimulatorProcess
{
public:
    SimulatorProcess() = default;
    SimulatorProcess(const SimulatorProcess &) = delete;
    SimulatorProcess &operator=(const SimulatorProcess &) = delete;
    ~SimulatorProcess() { stop(); }

    /// The running simulator that `args` names, else a forked child serving `device` at `speedUp`;
    /// false when the child did not start listening.
    bool start(const BenchArgs &args, const devsim::DeviceConfig &device, double speedUp)
    {
        if (args.simAddress.empty())
            return start(device, speedUp);
        m_port = args.simPort;
        return true;
    }

    /// Forks the child serving `device` at `speedUp`; false when it did not start listening.
    bool start(const devsim::DeviceConfig &device, double speedUp)
    {
        int down[2], up[2];
        if (pipe(down) != 0)
            return false;
        if (pipe(up) != 0) {
            close(down[0]);
            close(down[1]);
            return false;
        }
        m_pid = fork();
        if (m_pid < 0) {
            for (int fd : { down[0], down[1], up[0], up[1] })
                close(fd);
            return false;
        }
        if (m_pid == 0) {
            close(down[1]);
            close(up[0]);
            // The pipe ends of simulators forked earlier: held here, they would keep such a
            // simulator from seeing the end of its input when it is stopped.
            for (int fd : openParentEnds())
                close(fd);
            serve(device, speedUp, down[0], up[1]);
        }
        close(down[0]);
        close(up[1]);
        m_toChild = down[1];
        m_fromChild = up[0];
        openParentEnds().insert(openParentEnds().end(), { m_toChild, m_fromChild });
        return readAll(&m_port, sizeof m_port) && m_port != 0;
    }

    std::uint16_t port() const { return m_port; }

    /// The counters of the board at catalogue `position` (false for a simulator not forked here).
    bool stats(int position, SimulatorStats &out)
    {
        if (m_pid <= 0)
            return false;
        const char command[2] = { 's', char(position) };
        int values[3] = { -1, -1, -1 };
        if (write(m_toChild, command, sizeof command) != static_cast<ssize_t>(sizeof command)
            || !readAll(values, sizeof values))
            return false;
        out = { values[0], values[1], values[2] };
        return true;
    }

    /// Stops the child and waits for it; its protocol violations, or -1 when it did not say (or
    /// the simulator was not forked here).
    int stop()
    {
        if (m_pid <= 0)
            return -1;
        auto &ends = openParentEnds();
        ends.erase(
            std::remove_if(ends.begin(), ends.end(), [this](int fd) { return fd == m_toChild || fd == m_fromChild; }),
            ends.end());
        close(m_toChild); // the child's end of input: it stops serving
        int violations = -1;
        if (!readAll(&violations, sizeof violations))
            violations = -1;
        close(m_fromChild);
        int status = 0;
        waitpid(m_pid, &status, 0);
        m_pid = -1;
        return violations;
    }

private:
    /// This process's ends of the pipes to the simulators it has forked and not yet stopped.
    static std::vector<int> &openParentEnds()
    {
        static std::vector<int> ends;
        return ends;
    }

    [[noreturn]] static void serve(const devsim::DeviceConfig &device, double speedUp, int in, int out)
    {
        devsim::Simulator sim(speedUp);
        sim.addDevice(device);
        const std::uint16_t port = sim.start() ? sim.port(0) : 0;
        if (write(out, &port, sizeof port) != static_cast<ssize_t>(sizeof port))
            _exit(1);
        char command = 0;
        while (read(in, &command, 1) == 1) {
            std::uint8_t position = 0;
            if (command != 's' || read(in, &position, 1) != 1)
                continue;
            int values[3] = { -1, -1, int(sim.violations().size()) };
            if (position < devsim::kPositions) {
                const devsim::BoardSnapshot b = sim.snapshot(0).boards[position];
                values[0] = b.recordsAccepted;
                values[1] = b.checksumErrors;
            }
            if (write(out, values, sizeof values) != static_cast<ssize_t>(sizeof values))
                break;
        }
        sim.stop();
        const int violations = sim.violations().size();
        const ssize_t n = write(out, &violations, sizeof violations);
        _exit(n == static_cast<ssize_t>(sizeof violations) ? 0 : 1);
    }

    bool readAll(void *to, std::size_t size) { return read(m_fromChild, to, size) == static_cast<ssize_t>(size); }

    pid_t m_pid = -1;
    int m_toChild = -1;
    int m_fromChild = -1;
    std::uint16_t m_port = 0;
};

/// The baseline of both benchmarks: one exchange as plainly as blocking sockets do it. Connect,
/// send the request, receive exactly 76 bytes, close; no time-outs, no checks beyond the length.
class RawExchange
{
public:
    RawExchange(const char *address, std::uint16_t port, QByteArray request) : m_request(std::move(request))
    {
        m_addr.sin_family = AF_INET;
        m_addr.sin_port = htons(port);
        inet_pton(AF_INET, address, &m_addr.sin_addr);
    }

    /// The request of the following exchanges.
    void setRequest(const QByteArray &request) { m_request = request; }

    /// One exchange; false, with failure() naming the step, when one fails.
    bool run()
    {
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        if (fd < 0)
            return fail("no socket");
        if (connect(fd, reinterpret_cast<const sockaddr *>(&m_addr), sizeof m_addr) != 0) {
            close(fd);
            return fail("connect failed");
        }
        if (send(fd, m_request.constData(), std::size_t(m_request.size()), 0) != m_request.size()) {
            close(fd);
            return fail("send failed");
        }
        std::size_t got = 0;
        while (got < m_reply.size()) {
            const ssize_t n = recv(fd, m_reply.data() + got, m_reply.size() - got, 0);
            if (n <= 0)
                break;
            got += std::size_t(n);
        }
        close(fd);
        return got == m_reply.size() || fail("short reply");
    }

    /// The reply of the last exchange.
    const std::array<std::uint8_t, kPanelPacketSize> &reply() const { return m_reply; }
    const char *failure() const { return m_failure; }

private:
    bool fail(const char *why)
    {
        m_failure = why;
        return false;
    }

    sockaddr_in m_addr {};
    QByteArray m_request;
    std::array<std::uint8_t, kPanelPacketSize> m_reply {};
    const char *m_failure = "";
};

} // namespace orvo::bench
