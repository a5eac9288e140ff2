#include "simulator.h"

#include "protocol/catalogue.h"
#include "wire.h"

#include <QCryptographicHash>
#include <QHostAddress>
#include <QJsonArray>

#include <boost/asio.hpp>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <future>
#include <list>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#endif

namespace orvo::devsim {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;
using SteadyClock = std::chrono::steady_clock;

// ---------------------------------------------------------------------------------------------
// Free helpers

DeviceConfig defaultDevice(int type, const QString &address)
{
    DeviceConfig c;
    c.address = address;
    c.type = static_cast<std::uint32_t>(type);
    c.name = deviceTypeName(type).toLatin1();
    const QHostAddress host(address);
    const std::uint32_t ip4 = host.toIPv4Address();
    // A MAC derived from type and address keeps devices of one run apart in the program's list.
    c.mac = { { 0x00, 0x1a, 0x2b, static_cast<std::uint8_t>(type), static_cast<std::uint8_t>((ip4 >> 8) & 0xFF),
        static_cast<std::uint8_t>(ip4 & 0xFF) } };
    for (int i = 0; i < slotCount(type); ++i) {
        BoardConfig &b = c.boards[static_cast<std::size_t>(i)];
        b.fitted = true;
        b.state = BoardState::Running;
        b.version = buildVersion(type, panelSlot(type, i).boardType);
    }
    return c;
}

QByteArray imageDigest(const BoardSnapshot &board)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!board.fpgaImage.isEmpty()) {
        hash.addData(board.fpgaImage);
    } else {
        QByteArray pair(5, '\0');
        for (const auto &[address, value] : board.hexImage) {
            wire::putU32(pair, 0, address);
            pair[4] = static_cast<char>(value);
            hash.addData(pair);
        }
    }
    return hash.result().toHex();
}

QByteArray expectedImageDigest(const QByteArray &file, bool fpga, std::uint32_t flashEnd)
{
    BoardSnapshot image;
    if (fpga) {
        image.fpgaImage = file;
        return imageDigest(image);
    }
    const auto byteAt = [](const QByteArray &line, int i) -> int {
        if (1 + 2 * i + 2 > line.size())
            return -1;
        bool ok = false;
        const int v = line.mid(1 + 2 * i, 2).toInt(&ok, 16);
        return ok ? v : -1;
    };
    std::uint32_t upper = 0;
    for (QByteArray line : file.split('\n')) {
        line = line.trimmed();
        if (!line.startsWith(':'))
            continue;
        const int count = byteAt(line, 0);
        const int high = byteAt(line, 1);
        const int low = byteAt(line, 2);
        const int type = byteAt(line, 3);
        if (count < 0 || high < 0 || low < 0 || type < 0 || byteAt(line, 4 + count - 1) < 0)
            continue;
        if (type == 4 && count == 2) {
            upper = (std::uint32_t(byteAt(line, 4)) << 24) | (std::uint32_t(byteAt(line, 5)) << 16);
            continue;
        }
        const std::uint32_t address = upper | std::uint32_t(high << 8) | std::uint32_t(low);
        if (type != 0 || address < 0x1D000000u || address >= flashEnd)
            continue;
        const int padded = (count < 16 && count % 4 != 0) ? (count + 3) / 4 * 4 : count;
        for (int i = 0; i < padded; ++i)
            image.hexImage[address + std::uint32_t(i)] = i < count ? std::uint8_t(byteAt(line, 4 + i)) : 0;
    }
    return imageDigest(image);
}

bool imageAsExpected(const BoardSnapshot &board)
{
    return !board.expectedDigest.isEmpty() && imageDigest(board) == board.expectedDigest;
}

QString boardStateName(BoardState state)
{
    switch (state) {
    case BoardState::Running:
        return QStringLiteral("running");
    case BoardState::BootLoader:
        return QStringLiteral("bootloader");
    case BoardState::Erased:
        return QStringLiteral("erased");
    }
    return {};
}

namespace {

struct FaultName
{
    FaultKind kind;
    const char *name;
};

const FaultName kFaultNames[] = {
    { FaultKind::NeverAnswer, "NeverAnswer" },
    { FaultKind::WrongReplyCode, "WrongReplyCode" },
    { FaultKind::WrongEcho, "WrongEcho" },
    { FaultKind::ChecksumRefusals, "ChecksumRefusals" },
    { FaultKind::SplitReply, "SplitReply" },
    { FaultKind::DelayReply, "DelayReply" },
    { FaultKind::AcceptNoAnswer, "AcceptNoAnswer" },
    { FaultKind::EraseNeverConfirmed, "EraseNeverConfirmed" },
    { FaultKind::StayInBootLoader, "StayInBootLoader" },
    { FaultKind::VersionZeroAfterImage, "VersionZeroAfterImage" },
    { FaultKind::WrongLength, "WrongLength" },
    { FaultKind::WrongKind, "WrongKind" },
    { FaultKind::WrongDeviceType, "WrongDeviceType" },
    { FaultKind::DiscoveryType5, "DiscoveryType5" },
    { FaultKind::RefuseConnections, "RefuseConnections" },
    { FaultKind::Vanish, "Vanish" },
    { FaultKind::LongReply, "LongReply" },
    { FaultKind::AllBytesFF, "AllBytesFF" },
    { FaultKind::Trickle, "Trickle" },
    { FaultKind::Flood, "Flood" },
    { FaultKind::ForeignRecord, "ForeignRecord" },
};

} // namespace

QString faultKindName(FaultKind kind)
{
    for (const FaultName &f : kFaultNames) {
        if (f.kind == kind)
            return QString::fromLatin1(f.name);
    }
    return {};
}

bool faultKindFromName(const QString &name, FaultKind *kind)
{
    for (const FaultName &f : kFaultNames) {
        if (name.compare(QLatin1String(f.name), Qt::CaseInsensitive) == 0) {
            if (kind)
                *kind = f.kind;
            return true;
        }
    }
    return false;
}

// ---------------------------------------------------------------------------------------------
// Run-time state

namespace {

constexpr auto kIdleTimeout = std::chrono::seconds(60); // a client that never completes its request
constexpr auto kRebindRetry = std::chrono::milliseconds(50);
constexpr int kSplitFirstPart = 40;
constexpr int kMaxEvents = 200000;
constexpr int kLongReplyExtra = 64 * 1024;
constexpr int kTrickleMs = 100;
constexpr int kFloodChunk = 64 * 1024; // one buffer, written again and again: the flood costs no memory

struct BoardRt
{
    BoardConfig config;
    BoardState state = BoardState::Running;
    std::uint8_t version = 0;
    bool restarting = false;
    bool restartTakesNetwork = false;
    bool erasedSinceLeave = false; // program memory erased and no leave since: a new image is coming
    std::uint64_t restartGeneration = 0;
    std::shared_ptr<asio::steady_timer> restartTimer;
    BoardSnapshot counters; // counters and images; state fields are filled in by snapshot()
};

struct Connection;

struct DeviceRt
{
    DeviceConfig config;
    QByteArray name;
    std::array<std::uint8_t, 4> ip {};
    std::uint16_t port = 0;
    std::shared_ptr<tcp::acceptor> acceptor;
    std::shared_ptr<asio::steady_timer> rebindTimer;
    int networkDown = 0; // network boards restarting right now
    int requests = 0;
    int identifies = 0, renames = 0, infoRequests = 0, connections = 0;
    std::array<BoardRt, kPositions> boards {};
    std::list<std::weak_ptr<Connection>> connectionsOpen;
};

struct FaultRt
{
    int device = 0;
    Fault fault;
    int used = 0; // program records refused so far (ChecksumRefusals)
    bool vanishTimerStarted = false;
    std::shared_ptr<asio::steady_timer> vanishTimer;
};

struct Connection : std::enable_shared_from_this<Connection>
{
    Connection(asio::io_context &io, int dev) : socket(io), idleTimer(io), replyTimer(io), device(dev) { }

    tcp::socket socket;
    asio::steady_timer idleTimer;
    asio::steady_timer replyTimer;
    int device;
    bool reading = true;
    std::array<char, wire::kPanelPacketSize> buffer {};
    QByteArray request;
    QByteArray reply;
    int splitAt = 0;
    SteadyClock::duration splitDelay {};
    bool trickle = false; // one byte per write, splitDelay apart
    qint64 floodLeft = 0; // bytes of flood still to send; -1: without end
};

/// What to do with a request once it has been read.
struct Plan
{
    QByteArray reply;   ///< empty: close without a reply
    bool hold = false;  ///< keep the connection open and never answer
    double delayMs = 0; ///< simulator ms before the reply
    int splitAt = 0;    ///< >0: write the reply in two parts, the first this long
    double splitDelayMs = 0;
    double trickleMs = -1; ///< >=0: write the reply one byte at a time, this far apart
    bool flood = false;    ///< after the request, the reply (or filler) again and again
    qint64 floodBytes = 0; ///< how much flood; 0: without end
};

} // namespace

struct Simulator::Impl
{
    explicit Impl(double factor) : speedUp(factor >= 1.0 ? factor : 1.0) { }

    asio::io_context io;
    std::optional<asio::executor_work_guard<asio::io_context::executor_type>> work;
    std::thread thread;
    mutable std::mutex mutex;
    const double speedUp;
    SteadyClock::time_point origin = SteadyClock::now();
    bool started = false;
    bool stopping = false;
    std::atomic<bool> verbose { false };
    std::vector<std::unique_ptr<DeviceRt>> devices;
    std::map<int, FaultRt> faults;
    int nextFaultId = 1;
    QList<Violation> violations;
    QList<Event> events;

    // --- time

    SteadyClock::duration realDuration(double simMs) const
    {
        const double us = simMs < 0 ? 0 : simMs * 1000.0 / speedUp;
        return std::chrono::microseconds(static_cast<std::int64_t>(std::llround(us)));
    }

    qint64 simNow() const
    {
        const auto real = std::chrono::duration_cast<std::chrono::microseconds>(SteadyClock::now() - origin);
        return static_cast<qint64>(static_cast<double>(real.count()) * speedUp / 1000.0);
    }

    // --- records (mutex held)

    void event(int dev, int position, const QString &what)
    {
        Event e;
        e.timeMs = simNow();
        e.device = devices[static_cast<std::size_t>(dev)]->config.address;
        e.position = position;
        e.what = what;
        if (verbose.load()) {
            const QByteArray line = QStringLiteral("devsim %1 ms  %2  pos %3  %4\n")
                                        .arg(e.timeMs)
                                        .arg(e.device)
                                        .arg(position)
                                        .arg(what)
                                        .toLocal8Bit();
            std::fputs(line.constData(), stderr);
        }
        if (events.size() >= kMaxEvents)
            events.removeFirst();
        events.append(e);
    }

    void violation(int dev, const QString &what, const QByteArray &bytes)
    {
        violations.append({ devices[static_cast<std::size_t>(dev)]->config.address, what, bytes });
        event(dev, -1, QStringLiteral("violation: ") + what);
    }

    // --- faults (mutex held)

    std::vector<FaultRt *> activeFaults(int dev, int position, int deviceRequest, int boardRequest)
    {
        std::vector<FaultRt *> out;
        for (auto &[id, f] : faults) {
            if (f.device != dev)
                continue;
            int n = deviceRequest;
            if (f.fault.position >= 0) {
                if (f.fault.position != position)
                    continue;
                n = boardRequest;
            }
            const bool on = n >= f.fault.startAt && (f.fault.count < 0 || n < f.fault.startAt + f.fault.count);
            if (on)
                out.push_back(&f);
        }
        return out;
    }

    static FaultRt *find(const std::vector<FaultRt *> &list, FaultKind kind)
    {
        for (FaultRt *f : list) {
            if (f->fault.kind == kind)
                return f;
        }
        return nullptr;
    }

    // The device stops listening for a RefuseConnections or Vanish fault once `startAt` - 1 of its
    // requests have been served.
    bool listeningBlocked(int dev, bool *vanished)
    {
        DeviceRt &d = *devices[static_cast<std::size_t>(dev)];
        bool blocked = false;
        for (auto &[id, f] : faults) {
            if (f.device != dev)
                continue;
            if (f.fault.kind != FaultKind::RefuseConnections && f.fault.kind != FaultKind::Vanish)
                continue;
            if (d.requests < f.fault.startAt - 1)
                continue;
            blocked = true;
            if (f.fault.kind == FaultKind::Vanish) {
                *vanished = true;
                if (f.fault.param > 0 && !f.vanishTimerStarted)
                    startVanishTimer(id, f);
            }
        }
        return blocked;
    }

    void startVanishTimer(int faultId, FaultRt &f)
    {
        f.vanishTimerStarted = true;
        f.vanishTimer = std::make_shared<asio::steady_timer>(io);
        f.vanishTimer->expires_after(realDuration(f.fault.param));
        f.vanishTimer->async_wait([this, faultId](const boost::system::error_code &ec) {
            std::lock_guard<std::mutex> lock(mutex);
            if (ec || stopping)
                return;
            auto it = faults.find(faultId);
            if (it == faults.end())
                return;
            const int dev = it->second.device;
            faults.erase(it);
            event(dev, -1, QStringLiteral("back"));
            updateListening(dev);
        });
    }

    // --- listening (io thread or before start, mutex held)

    bool openAcceptor(DeviceRt &d, std::uint16_t port, QString *error)
    {
        boost::system::error_code ec;
        const auto address = asio::ip::make_address_v4(d.config.address.toStdString(), ec);
        if (ec) {
            if (error)
                *error = QStringLiteral("bad address %1").arg(d.config.address);
            return false;
        }
        auto acceptor = std::make_shared<tcp::acceptor>(io);
        const tcp::endpoint endpoint(address, port);
        acceptor->open(endpoint.protocol(), ec);
        if (!ec)
            closeOnExec(acceptor->native_handle());
        if (!ec)
            acceptor->set_option(tcp::acceptor::reuse_address(true), ec);
        if (!ec)
            acceptor->bind(endpoint, ec);
        if (!ec)
            acceptor->listen(asio::socket_base::max_listen_connections, ec);
        if (ec) {
            if (error)
                *error = QStringLiteral("cannot listen on %1:%2: %3")
                             .arg(d.config.address)
                             .arg(port)
                             .arg(QString::fromStdString(ec.message()));
            return false;
        }
        d.port = acceptor->local_endpoint().port();
        d.acceptor = acceptor;
        return true;
    }

    void closeAcceptor(DeviceRt &d)
    {
        if (!d.acceptor)
            return;
        boost::system::error_code ec;
        d.acceptor->close(ec);
        d.acceptor.reset();
    }

    void closeConnections(DeviceRt &d)
    {
        for (auto &weak : d.connectionsOpen) {
            if (auto c = weak.lock())
                closeSocket(*c);
        }
        d.connectionsOpen.clear();
    }

    void updateListening(int dev)
    {
        if (stopping || !started)
            return;
        DeviceRt &d = *devices[static_cast<std::size_t>(dev)];
        bool vanished = false;
        const bool blocked = listeningBlocked(dev, &vanished);
        const bool want = !blocked && d.networkDown == 0;
        if (!want && d.acceptor) {
            closeAcceptor(d);
            if (vanished)
                closeConnections(d);
            event(dev, -1,
                blocked ? (vanished ? QStringLiteral("vanished") : QStringLiteral("refusing"))
                        : QStringLiteral("network down"));
        } else if (want && !d.acceptor) {
            QString error;
            if (openAcceptor(d, d.port, &error)) {
                event(dev, -1, QStringLiteral("listening"));
                accept(dev, d.acceptor);
            } else if (!d.rebindTimer) {
                // The port can be held for a moment by a socket of the last life; try again.
                d.rebindTimer = std::make_shared<asio::steady_timer>(io);
                d.rebindTimer->expires_after(kRebindRetry);
                d.rebindTimer->async_wait([this, dev](const boost::system::error_code &ec) {
                    std::lock_guard<std::mutex> lock(mutex);
                    if (ec || stopping)
                        return;
                    devices[static_cast<std::size_t>(dev)]->rebindTimer.reset();
                    updateListening(dev);
                });
            }
        }
    }

    // A program started by a test (or by the simulator's host) must not inherit the listening
    // socket: it would keep the port bound after the device closed it for a restart.
    template <typename Handle>
    static void closeOnExec(Handle fd)
    {
#ifndef _WIN32
        const int flags = ::fcntl(fd, F_GETFD);
        if (flags >= 0)
            ::fcntl(fd, F_SETFD, flags | FD_CLOEXEC);
#else
        (void)fd; // Windows sockets are not inherited unless asked for
#endif
    }

    void accept(int dev, const std::shared_ptr<tcp::acceptor> &acceptor)
    {
        auto conn = std::make_shared<Connection>(io, dev);
        acceptor->async_accept(conn->socket, [this, dev, acceptor, conn](const boost::system::error_code &ec) {
            std::lock_guard<std::mutex> lock(mutex);
            if (stopping)
                return;
            DeviceRt &d = *devices[static_cast<std::size_t>(dev)];
            if (d.acceptor != acceptor)
                return; // closed since (restart, fault): this acceptor is done
            if (ec) {
                // A failed accept (say, out of descriptors) is retried after a pause, not in a loop.
                auto pause = std::make_shared<asio::steady_timer>(io, kRebindRetry);
                pause->async_wait([this, dev, acceptor, pause](const boost::system::error_code &ec2) {
                    std::lock_guard<std::mutex> lock2(mutex);
                    if (!ec2 && !stopping && devices[static_cast<std::size_t>(dev)]->acceptor == acceptor)
                        accept(dev, acceptor);
                });
                return;
            }
            closeOnExec(conn->socket.native_handle());
            ++d.connections;
            d.connectionsOpen.remove_if([](const std::weak_ptr<Connection> &w) { return w.expired(); });
            d.connectionsOpen.push_back(conn);
            startConnection(conn);
            accept(dev, acceptor);
        });
    }

    // --- one connection (mutex held)

    void closeSocket(Connection &c)
    {
        boost::system::error_code ec;
        c.reading = false;
        c.idleTimer.cancel();
        c.replyTimer.cancel();
        if (c.socket.is_open()) {
            c.socket.shutdown(tcp::socket::shutdown_both, ec);
            c.socket.close(ec);
        }
    }

    void startConnection(const std::shared_ptr<Connection> &conn)
    {
        conn->idleTimer.expires_after(kIdleTimeout);
        conn->idleTimer.async_wait([this, conn](const boost::system::error_code &ec) {
            std::lock_guard<std::mutex> lock(mutex);
            if (ec || stopping || !conn->reading)
                return;
            if (!conn->request.isEmpty())
                violation(conn->device, QStringLiteral("incomplete request, no more bytes for 60 s"), conn->request);
            closeSocket(*conn);
        });
        readPart(conn, wire::kHeaderSize);
    }

    // Reads until the request holds `total` bytes; a request may come in any number of segments.
    void readPart(const std::shared_ptr<Connection> &conn, int total)
    {
        const std::size_t want = static_cast<std::size_t>(total - conn->request.size());
        asio::async_read(conn->socket, asio::buffer(conn->buffer.data(), want),
            [this, conn, total](const boost::system::error_code &ec, std::size_t n) {
                std::lock_guard<std::mutex> lock(mutex);
                if (stopping)
                    return;
                conn->request.append(conn->buffer.data(), static_cast<int>(n));
                if (ec) {
                    onShortRequest(conn);
                    return;
                }
                if (conn->request.size() == wire::kHeaderSize)
                    onHeader(conn);
                else
                    onRequest(conn);
            });
    }

    void onShortRequest(const std::shared_ptr<Connection> &conn)
    {
        if (!conn->reading)
            return; // closed by us
        if (conn->request.isEmpty())
            event(conn->device, -1, QStringLiteral("closed without a request"));
        else
            violation(conn->device, QStringLiteral("short request: %1 bytes").arg(conn->request.size()), conn->request);
        closeSocket(*conn);
    }

    void onHeader(const std::shared_ptr<Connection> &conn)
    {
        const wire::Header h = wire::decodeHeader(conn->request);
        const int size = wire::requestSize(h.kind);
        if (h.magic != wire::kMagic || size == 0) {
            DeviceRt &d = *devices[static_cast<std::size_t>(conn->device)];
            ++d.requests;
            violation(conn->device, wire::checkRequest(conn->request, d.config.type), conn->request);
            closeSocket(*conn);
            return;
        }
        if (size > wire::kHeaderSize)
            readPart(conn, size);
        else
            onRequest(conn);
    }

    void onRequest(const std::shared_ptr<Connection> &conn)
    {
        conn->reading = false;
        conn->idleTimer.cancel();
        boost::system::error_code ec;
        const std::size_t extra = conn->socket.available(ec);
        const Plan plan = handle(conn->device, conn->request, !ec && extra > 0);
        if (!plan.hold && !plan.flood) {
            // Its reply is under way: a device that vanishes after this request still sends it.
            devices[static_cast<std::size_t>(conn->device)]->connectionsOpen.remove_if(
                [&conn](const std::weak_ptr<Connection> &w) { return w.lock() == conn; });
        }
        deliver(conn, plan);
        updateListening(conn->device);
    }

    void deliver(const std::shared_ptr<Connection> &conn, const Plan &plan)
    {
        if (plan.hold) {
            drain(conn);
            return;
        }
        if (plan.flood) {
            flood(conn, plan);
            return;
        }
        if (plan.reply.isEmpty()) {
            closeSocket(*conn);
            return;
        }
        conn->reply = plan.reply;
        conn->splitAt = plan.splitAt > 0 && plan.splitAt < plan.reply.size() ? plan.splitAt : 0;
        conn->splitDelay = realDuration(plan.splitDelayMs);
        if (plan.trickleMs >= 0) {
            conn->trickle = true;
            conn->splitDelay = realDuration(plan.trickleMs);
        }
        if (plan.delayMs > 0) {
            conn->replyTimer.expires_after(realDuration(plan.delayMs));
            conn->replyTimer.async_wait([this, conn](const boost::system::error_code &ec) {
                std::lock_guard<std::mutex> lock(mutex);
                if (ec || stopping)
                    return;
                write(conn, 0);
            });
        } else {
            write(conn, 0);
        }
    }

    // Writes the reply from `from`; the first part of a split reply ends at splitAt.
    void write(const std::shared_ptr<Connection> &conn, int from)
    {
        const int to = conn->trickle ? from + 1 : (from == 0 && conn->splitAt > 0) ? conn->splitAt : conn->reply.size();
        asio::async_write(conn->socket,
            asio::buffer(conn->reply.constData() + from, static_cast<std::size_t>(to - from)),
            [this, conn, to](const boost::system::error_code &ec, std::size_t) {
                std::lock_guard<std::mutex> lock(mutex);
                if (stopping)
                    return;
                if (ec || to >= conn->reply.size()) {
                    closeSocket(*conn);
                    return;
                }
                conn->replyTimer.expires_after(conn->splitDelay);
                conn->replyTimer.async_wait([this, conn, to](const boost::system::error_code &ec2) {
                    std::lock_guard<std::mutex> lock(mutex);
                    if (ec2 || stopping)
                        return;
                    write(conn, to);
                });
            });
    }

    // Sends copies of the reply (filler where no reply is due) until `floodBytes` have gone, then
    // holds the connection open: it never ends from this side. Stops when the client goes away.
    void flood(const std::shared_ptr<Connection> &conn, const Plan &plan)
    {
        const QByteArray unit = plan.reply.isEmpty() ? QByteArray(1, '\x5A') : plan.reply;
        conn->reply.clear();
        conn->reply.reserve(kFloodChunk);
        while (conn->reply.size() < kFloodChunk)
            conn->reply.append(unit);
        conn->reply.truncate(kFloodChunk);
        conn->floodLeft = plan.floodBytes > 0 ? plan.floodBytes : -1;
        floodWrite(conn);
    }

    void floodWrite(const std::shared_ptr<Connection> &conn)
    {
        if (conn->floodLeft == 0) {
            drain(conn);
            return;
        }
        const qint64 n
            = conn->floodLeft < 0 ? conn->reply.size() : std::min<qint64>(conn->floodLeft, conn->reply.size());
        asio::async_write(conn->socket, asio::buffer(conn->reply.constData(), static_cast<std::size_t>(n)),
            [this, conn, n](const boost::system::error_code &ec, std::size_t) {
                std::lock_guard<std::mutex> lock(mutex);
                if (stopping)
                    return;
                if (ec) {
                    closeSocket(*conn);
                    return;
                }
                if (conn->floodLeft > 0)
                    conn->floodLeft -= n;
                floodWrite(conn);
            });
    }

    // Holds a connection without answering: reads and discards until the client goes away.
    void drain(const std::shared_ptr<Connection> &conn)
    {
        conn->socket.async_read_some(
            asio::buffer(conn->buffer), [this, conn](const boost::system::error_code &ec, std::size_t) {
                std::lock_guard<std::mutex> lock(mutex);
                if (stopping)
                    return;
                if (ec) {
                    closeSocket(*conn);
                    return;
                }
                drain(conn);
            });
    }

    // --- the device's behaviour (mutex held)

    Plan handle(int dev, const QByteArray &request, bool trailingBytes)
    {
        DeviceRt &d = *devices[static_cast<std::size_t>(dev)];
        ++d.requests;
        Plan plan;
        QString bad = wire::checkRequest(request, d.config.type);
        if (bad.isEmpty() && trailingBytes)
            bad = QStringLiteral("more bytes after the request");
        if (!bad.isEmpty()) {
            violation(dev, bad, request);
            return plan;
        }
        const wire::Header h = wire::decodeHeader(request);
        const std::uint16_t type16 = static_cast<std::uint16_t>(d.config.type & 0xFFFF);

        int position = -1;
        wire::PanelRequest panel;
        int boardRequest = 0;
        if (h.kind == wire::KindPanel) {
            panel = wire::decodePanelRequest(request);
            position = findFittedBoard(d, panel);
            if (position < 0) {
                event(dev, -1,
                    QStringLiteral("no board at ch %1 panel %2 type %3 addr %4")
                        .arg(panel.channel)
                        .arg(panel.panel)
                        .arg(panel.boardType)
                        .arg(panel.boardAddress));
                return plan;
            }
            BoardRt &b = d.boards[static_cast<std::size_t>(position)];
            boardRequest = ++b.counters.requests;
        }
        const std::vector<FaultRt *> active = activeFaults(dev, position, d.requests, boardRequest);
        if (find(active, FaultKind::AcceptNoAnswer)) {
            event(dev, position, QStringLiteral("held without answer"));
            plan.hold = true;
            return plan;
        }
        if (find(active, FaultKind::NeverAnswer)) {
            event(dev, position, QStringLiteral("dropped"));
            return plan;
        }

        switch (h.kind) {
        case wire::KindInfo:
            ++d.infoRequests;
            event(dev, -1, QStringLiteral("info"));
            plan.reply = record(d, active);
            break;
        case wire::KindRename:
            ++d.renames;
            d.name = wire::renameName(request);
            event(dev, -1, QStringLiteral("rename"));
            plan.reply = record(d, active);
            break;
        case wire::KindIdentify:
            ++d.identifies;
            event(dev, -1, QStringLiteral("identify"));
            break;
        case wire::KindPanel: {
            BoardRt &b = d.boards[static_cast<std::size_t>(position)];
            if (b.restarting) {
                event(dev, position, QStringLiteral("ignored while restarting"));
                return plan;
            }
            std::uint8_t status = 0;
            const std::optional<std::uint8_t> code = boardRequestReply(dev, position, panel, active, &status);
            if (code)
                plan.reply = wire::encodePanelReply(
                    type16, panel, *code, status ? status : stateStatus(b), replyByte8(b, *code));
            break;
        }
        default:
            break;
        }
        if (!plan.reply.isEmpty())
            applyReplyFaults(active, h.kind, &plan);
        if (FaultRt *f = find(active, FaultKind::Flood)) {
            event(dev, position, QStringLiteral("flooding"));
            plan.flood = true;
            plan.floodBytes = f->fault.param > 0 ? f->fault.param : 0;
        }
        return plan;
    }

    static int findFittedBoard(const DeviceRt &d, const wire::PanelRequest &r)
    {
        const int type = static_cast<int>(d.config.type);
        const PanelSlot slot { r.panel, r.channel, r.boardType, r.boardAddress };
        for (int i = 0; i < slotCount(type); ++i) {
            if (panelSlot(type, i) == slot)
                return d.boards[static_cast<std::size_t>(i)].config.fitted ? i : -1;
        }
        return -1;
    }

    QByteArray record(const DeviceRt &d, const std::vector<FaultRt *> &active)
    {
        const std::uint16_t headerType
            = find(active, FaultKind::DiscoveryType5) ? 5 : static_cast<std::uint16_t>(d.config.type & 0xFFFF);
        if (FaultRt *f = find(active, FaultKind::ForeignRecord)) {
            if (const DeviceRt *other = device(f->fault.param)) {
                DeviceConfig config = d.config;
                config.mac = other->config.mac;
                return wire::encodeRecord(config, d.name, other->ip, headerType);
            }
        }
        return wire::encodeRecord(d.config, d.name, d.ip, headerType);
    }

    static std::uint8_t stateStatus(const BoardRt &b)
    {
        return b.state == BoardState::Running ? wire::kStatusRunning : wire::kStatusBootLoader;
    }

    static std::uint8_t replyByte8(const BoardRt &b, std::uint8_t code)
    {
        if (code == wire::kReplyPic)
            return static_cast<std::uint8_t>(b.config.picVariant);
        return b.version;
    }

    /// Acts on a panel command; returns the reply code, or nothing for no reply. `status` is set
    /// when the reply carries another status than the board's state.
    std::optional<std::uint8_t> boardRequestReply(
        int dev, int position, const wire::PanelRequest &r, const std::vector<FaultRt *> &active, std::uint8_t *status)
    {
        DeviceRt &d = *devices[static_cast<std::size_t>(dev)];
        BoardRt &b = d.boards[static_cast<std::size_t>(position)];
        const int type = static_cast<int>(d.config.type);
        const bool fpga = isFpgaBoard(type, r.boardType);
        switch (r.route) {
        case 4:
            if (r.command == 0x55) {
                ++b.counters.statusQueries;
                event(dev, position, QStringLiteral("status"));
                return wire::kReplyStatus;
            }
            if (r.subCommand == 0) {
                ++b.counters.enterRequests;
                event(dev, position, QStringLiteral("enter"));
                restart(dev, position, b.state == BoardState::Erased ? BoardState::Erased : BoardState::BootLoader,
                    std::nullopt);
                return std::nullopt;
            }
            // An FPGA board takes its image without an enter request; a PIC board only in its boot loader.
            if (!fpga && b.state == BoardState::Running) {
                event(dev, position, QStringLiteral("erase refused: running"));
                return wire::kReplyStatus;
            }
            if (find(active, FaultKind::EraseNeverConfirmed)) {
                event(dev, position, QStringLiteral("erase not confirmed"));
                return wire::kReplyStatus;
            }
            ++b.counters.erases;
            b.state = BoardState::Erased;
            b.erasedSinceLeave = true;
            b.counters.hexImage.clear();
            b.counters.fpgaImage.clear();
            event(dev, position, QStringLiteral("erase"));
            *status = wire::kStatusErased;
            return wire::kReplyStatus;
        case 5:
            return programRecord(dev, position, r, active, fpga);
        case 6: {
            ++b.counters.leaveRequests;
            event(dev, position, QStringLiteral("leave"));
            if (!fpga && b.state == BoardState::Running) {
                restart(dev, position, BoardState::Running, std::nullopt);
                return std::nullopt;
            }
            if (find(active, FaultKind::StayInBootLoader)) {
                restart(dev, position, BoardState::BootLoader, std::nullopt);
                return std::nullopt;
            }
            std::optional<std::uint8_t> version;
            if (b.erasedSinceLeave) {
                version = find(active, FaultKind::VersionZeroAfterImage) ? std::uint8_t(0) : newVersion(type, b, r);
                b.erasedSinceLeave = false;
            }
            restart(dev, position, BoardState::Running, version);
            return std::nullopt;
        }
        case 8:
            if (r.command == 0x2C) {
                ++b.counters.picQueries;
                event(dev, position, QStringLiteral("pic"));
                if (b.config.picVariant < 0)
                    return std::nullopt;
                return wire::kReplyPic;
            }
            ++b.counters.resets;
            event(dev, position, QStringLiteral("reset"));
            // Without an intact application the boot loader stays in charge after a reset.
            restart(dev, position,
                b.state == BoardState::Erased                                   ? BoardState::Erased
                    : (b.state == BoardState::BootLoader && b.erasedSinceLeave) ? BoardState::BootLoader
                                                                                : BoardState::Running,
                std::nullopt);
            return std::nullopt;
        default:
            return std::nullopt;
        }
    }

    static std::uint8_t newVersion(int type, const BoardRt &b, const wire::PanelRequest &r)
    {
        if (b.config.newVersion >= 0)
            return static_cast<std::uint8_t>(b.config.newVersion);
        return buildVersion(type, r.boardType);
    }

    std::optional<std::uint8_t> programRecord(
        int dev, int position, const wire::PanelRequest &r, const std::vector<FaultRt *> &active, bool fpga)
    {
        BoardRt &b = devices[static_cast<std::size_t>(dev)]->boards[static_cast<std::size_t>(position)];
        if (!fpga && b.state == BoardState::Running) {
            event(dev, position, QStringLiteral("record refused: running"));
            return wire::kReplyStatus;
        }
        if (FaultRt *f = find(active, FaultKind::ChecksumRefusals); f && f->used < f->fault.param) {
            ++f->used;
            ++b.counters.checksumErrors;
            event(dev, position, QStringLiteral("record refused (fault)"));
            return wire::kReplyChecksum;
        }
        const auto at = [&r](int i) { return static_cast<std::uint8_t>(r.body.at(i)); };
        if (wire::recordChecksum(r.body, fpga) != at(8)) {
            ++b.counters.checksumErrors;
            event(dev, position, QStringLiteral("checksum error"));
            return wire::kReplyChecksum;
        }
        const int length = at(9);
        if (fpga) {
            b.counters.fpgaImage.append(r.body.mid(15, length));
        } else {
            const std::uint32_t address = wire::getU32(r.body, 10);
            for (int i = 0; i < length; ++i)
                b.counters.hexImage[address + static_cast<std::uint32_t>(i)] = at(15 + i);
        }
        ++b.counters.recordsAccepted;
        event(dev, position, QStringLiteral("record"));
        return wire::kReplyAccepted;
    }

    void restart(int dev, int position, BoardState after, std::optional<std::uint8_t> version)
    {
        DeviceRt &d = *devices[static_cast<std::size_t>(dev)];
        BoardRt &b = d.boards[static_cast<std::size_t>(position)];
        const PanelSlot slot = panelSlot(static_cast<int>(d.config.type), position);
        b.restarting = true;
        b.restartTakesNetwork = restartsNetwork(static_cast<int>(d.config.type), slot.panel, slot.channel);
        const std::uint64_t generation = ++b.restartGeneration;
        if (b.restartTakesNetwork)
            ++d.networkDown;
        event(dev, position, QStringLiteral("restarting"));
        b.restartTimer = std::make_shared<asio::steady_timer>(io);
        b.restartTimer->expires_after(realDuration(b.config.restartMs));
        b.restartTimer->async_wait(
            [this, dev, position, generation, after, version](const boost::system::error_code &ec) {
                std::lock_guard<std::mutex> lock(mutex);
                if (ec || stopping)
                    return;
                DeviceRt &dd = *devices[static_cast<std::size_t>(dev)];
                BoardRt &bb = dd.boards[static_cast<std::size_t>(position)];
                if (bb.restartGeneration != generation || !bb.restarting)
                    return; // overridden by setBoard
                endRestart(dd, bb);
                bb.state = after;
                if (version)
                    bb.version = *version;
                event(dev, position, QStringLiteral("restarted: ") + boardStateName(after));
                updateListening(dev);
            });
        // updateListening() runs after the request, once the connection is dealt with.
    }

    static void endRestart(DeviceRt &d, BoardRt &b)
    {
        b.restarting = false;
        if (b.restartTakesNetwork && d.networkDown > 0)
            --d.networkDown;
        b.restartTakesNetwork = false;
    }

    void applyReplyFaults(const std::vector<FaultRt *> &active, std::uint16_t kind, Plan *plan)
    {
        QByteArray &r = plan->reply;
        const bool panel = kind == wire::KindPanel;
        if (FaultRt *f = find(active, FaultKind::WrongReplyCode); f && panel) {
            const std::uint8_t code = static_cast<std::uint8_t>(r.at(13));
            std::uint8_t other = f->fault.param > 0
                ? static_cast<std::uint8_t>(f->fault.param)
                : (code == wire::kReplyStatus ? wire::kReplyAccepted : wire::kReplyStatus);
            if (other == code)
                other = static_cast<std::uint8_t>(code + 1);
            r[13] = static_cast<char>(other);
        }
        if (FaultRt *f = find(active, FaultKind::WrongEcho); f && panel) {
            const int p = f->fault.param;
            const int index = (p == 2 || p == 3 || p == 6 || p == 7) ? p : 2;
            r[wire::kHeaderSize + index] = static_cast<char>(r.at(wire::kHeaderSize + index) + 1);
        }
        if (FaultRt *f = find(active, FaultKind::WrongKind)) {
            std::uint16_t other = static_cast<std::uint16_t>(f->fault.param);
            if (other == kind)
                other = kind == wire::KindPanel ? wire::KindInfo : wire::KindPanel;
            wire::putU16(r, 8, other);
        }
        if (FaultRt *f = find(active, FaultKind::WrongDeviceType)) {
            std::uint16_t other = static_cast<std::uint16_t>(f->fault.param);
            if (other == wire::getU16(r, 10))
                other = static_cast<std::uint16_t>(other + 1);
            wire::putU16(r, 10, other);
        }
        if (FaultRt *f = find(active, FaultKind::WrongLength)) {
            int length = f->fault.param > 0 ? f->fault.param : r.size() - 1;
            if (length == r.size())
                length = r.size() - 1;
            const int old = r.size();
            r.resize(length);
            for (int i = old; i < length; ++i)
                r[i] = '\0';
        }
        if (FaultRt *f = find(active, FaultKind::AllBytesFF)) {
            const int keep = f->fault.param == 1 ? wire::kHeaderSize : 0;
            for (int i = keep; i < r.size(); ++i)
                r[i] = '\xFF';
        }
        if (FaultRt *f = find(active, FaultKind::LongReply))
            r.append(QByteArray(f->fault.param > 0 ? f->fault.param : kLongReplyExtra, '\xA5'));
        if (FaultRt *f = find(active, FaultKind::Trickle))
            plan->trickleMs = f->fault.param > 0 ? f->fault.param : kTrickleMs;
        if (FaultRt *f = find(active, FaultKind::DelayReply))
            plan->delayMs = f->fault.param;
        if (FaultRt *f = find(active, FaultKind::SplitReply)) {
            plan->splitAt = std::min(kSplitFirstPart, r.size() - 1);
            plan->splitDelayMs = f->fault.param;
        }
    }

    // --- shutting down (io thread, mutex held)

    void closeAll()
    {
        for (auto &dp : devices) {
            closeAcceptor(*dp);
            closeConnections(*dp);
            if (dp->rebindTimer)
                dp->rebindTimer->cancel();
            for (BoardRt &b : dp->boards) {
                if (b.restartTimer)
                    b.restartTimer->cancel();
            }
        }
        for (auto &[id, f] : faults) {
            if (f.vanishTimer)
                f.vanishTimer->cancel();
        }
    }

    DeviceRt *device(int index) const
    {
        if (index < 0 || index >= static_cast<int>(devices.size()))
            return nullptr;
        return devices[static_cast<std::size_t>(index)].get();
    }
};

// ---------------------------------------------------------------------------------------------
// Simulator

Simulator::Simulator(double speedUp) : d(std::make_unique<Impl>(speedUp)) { }

Simulator::~Simulator()
{
    stop();
}

int Simulator::addDevice(const DeviceConfig &config)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    if (d->started)
        return -1;
    auto dev = std::make_unique<DeviceRt>();
    dev->config = config;
    dev->name = config.name.left(wire::kNameFieldSize);
    const std::uint32_t ip4
        = QHostAddress(config.recordAddress.isEmpty() ? config.address : config.recordAddress).toIPv4Address();
    dev->ip = { { static_cast<std::uint8_t>(ip4 >> 24), static_cast<std::uint8_t>((ip4 >> 16) & 0xFF),
        static_cast<std::uint8_t>((ip4 >> 8) & 0xFF), static_cast<std::uint8_t>(ip4 & 0xFF) } };
    const int slotTotal = slotCount(static_cast<int>(config.type));
    for (int i = 0; i < kPositions; ++i) {
        BoardRt &b = dev->boards[static_cast<std::size_t>(i)];
        b.config = config.boards[static_cast<std::size_t>(i)];
        b.config.fitted = b.config.fitted && i < slotTotal;
        b.state = b.config.state;
        b.version = b.config.version;
        // A board found in its boot loader or erased has no valid image: the next leave brings one.
        b.erasedSinceLeave = b.state == BoardState::Erased;
    }
    d->devices.push_back(std::move(dev));
    return static_cast<int>(d->devices.size()) - 1;
}

bool Simulator::start(std::uint16_t commonPort, QString *error)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    if (d->started) {
        if (error)
            *error = QStringLiteral("already started");
        return false;
    }
    // Devices with their own port first: their failure is final.
    for (auto &dev : d->devices) {
        if (dev->config.port != 0 && !d->openAcceptor(*dev, dev->config.port, error)) {
            d->closeAll();
            return false;
        }
    }
    // The others share one port: the first picks it, the rest follow; a clash means a new port.
    bool ok = true;
    for (int attempt = 0; attempt < 50; ++attempt) {
        ok = true;
        std::uint16_t port = commonPort;
        for (auto &dev : d->devices) {
            if (dev->config.port != 0)
                continue;
            if (!d->openAcceptor(*dev, port, error)) {
                ok = false;
                break;
            }
            port = dev->port;
        }
        if (ok || commonPort != 0)
            break;
        for (auto &dev : d->devices) {
            if (dev->config.port == 0)
                d->closeAcceptor(*dev);
        }
    }
    if (!ok) {
        d->closeAll();
        return false;
    }
    d->origin = SteadyClock::now();
    d->started = true;
    for (int i = 0; i < static_cast<int>(d->devices.size()); ++i) {
        d->event(i, -1, QStringLiteral("listening"));
        d->accept(i, d->devices[static_cast<std::size_t>(i)]->acceptor);
    }
    d->work.emplace(asio::make_work_guard(d->io));
    d->thread = std::thread([this] { d->io.run(); });
    return true;
}

void Simulator::stop()
{
    {
        std::lock_guard<std::mutex> lock(d->mutex);
        if (!d->started || d->stopping)
            return;
        d->stopping = true;
    }
    asio::post(d->io, [this] {
        std::lock_guard<std::mutex> lock(d->mutex);
        d->closeAll();
        d->io.stop();
    });
    d->work.reset();
    if (d->thread.joinable())
        d->thread.join();
}

std::uint16_t Simulator::port(int device) const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    const DeviceRt *dev = d->device(device);
    return dev ? dev->port : 0;
}

int Simulator::deviceCount() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return static_cast<int>(d->devices.size());
}

int Simulator::addFault(int device, const Fault &fault)
{
    std::unique_lock<std::mutex> lock(d->mutex);
    if (!d->device(device))
        return -1;
    const int id = d->nextFaultId++;
    FaultRt f;
    f.device = device;
    f.fault = fault;
    d->faults.emplace(id, std::move(f));
    d->event(device, fault.position, QStringLiteral("fault on: ") + faultKindName(fault.kind));
    lock.unlock();
    updateListeningNow(device);
    return id;
}

void Simulator::removeFault(int faultId)
{
    std::unique_lock<std::mutex> lock(d->mutex);
    auto it = d->faults.find(faultId);
    if (it == d->faults.end())
        return;
    const int device = it->second.device;
    d->event(device, it->second.fault.position, QStringLiteral("fault off: ") + faultKindName(it->second.fault.kind));
    d->faults.erase(it); // a pending vanish timer finds its fault gone
    lock.unlock();
    updateListeningNow(device);
}

void Simulator::clearFaults(int device)
{
    std::unique_lock<std::mutex> lock(d->mutex);
    for (auto it = d->faults.begin(); it != d->faults.end();) {
        if (it->second.device == device)
            it = d->faults.erase(it);
        else
            ++it;
    }
    if (!d->device(device))
        return;
    d->event(device, -1, QStringLiteral("faults cleared"));
    lock.unlock();
    updateListeningNow(device);
}

// Faults that stop or restart listening take effect before the call returns, so that a test's
// next connection already sees them. The acceptor belongs to the I/O thread, so the change is
// made there and waited for (bounded, in case the simulator is stopping).
void Simulator::updateListeningNow(int device)
{
    if (d->thread.get_id() == std::this_thread::get_id()) {
        std::lock_guard<std::mutex> lock(d->mutex);
        d->updateListening(device);
        return;
    }
    auto done = std::make_shared<std::promise<void>>();
    auto finished = done->get_future();
    asio::post(d->io, [this, device, done] {
        {
            std::lock_guard<std::mutex> lock(d->mutex);
            d->updateListening(device);
        }
        done->set_value();
    });
    finished.wait_for(std::chrono::seconds(2));
}

bool Simulator::expectImage(int device, int position, const QByteArray &file)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    DeviceRt *dev = d->device(device);
    if (!dev || position < 0 || position >= slotCount(static_cast<int>(dev->config.type)))
        return false;
    BoardRt &b = dev->boards[static_cast<std::size_t>(position)];
    const int type = static_cast<int>(dev->config.type);
    const bool fpga = isFpgaBoard(type, panelSlot(type, position).boardType);
    const int pic = b.config.picVariant;
    const bool small = !fpga && pic >= 0 && pic < kPicTypes && picPart(pic).contains(QLatin1String("PIC32MZ1024"));
    b.counters.expectedDigest = expectedImageDigest(file, fpga, small ? 0x1D100000u : 0x1D200000u);
    return true;
}

void Simulator::setBoard(int device, int position, const BoardConfig &board)
{
    std::lock_guard<std::mutex> lock(d->mutex);
    DeviceRt *dev = d->device(device);
    if (!dev || position < 0 || position >= kPositions)
        return;
    BoardRt &b = dev->boards[static_cast<std::size_t>(position)];
    b.config = board;
    b.config.fitted = board.fitted && position < slotCount(static_cast<int>(dev->config.type));
    b.state = board.state;
    b.version = board.version;
    b.erasedSinceLeave = board.state == BoardState::Erased;
    if (b.restarting) {
        ++b.restartGeneration; // the pending restart no longer applies
        Impl::endRestart(*dev, b);
    }
    d->event(device, position, QStringLiteral("set: ") + boardStateName(board.state));
    asio::post(d->io, [this, device] {
        std::lock_guard<std::mutex> lock(d->mutex);
        d->updateListening(device);
    });
}

DeviceSnapshot Simulator::snapshot(int device) const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    DeviceSnapshot s;
    const DeviceRt *dev = d->device(device);
    if (!dev)
        return s;
    s.address = dev->config.address;
    s.name = dev->name;
    s.identifies = dev->identifies;
    s.renames = dev->renames;
    s.infoRequests = dev->infoRequests;
    s.connections = dev->connections;
    s.requests = dev->requests;
    s.listening = dev->acceptor != nullptr;
    s.port = dev->port;
    for (int i = 0; i < kPositions; ++i) {
        const BoardRt &b = dev->boards[static_cast<std::size_t>(i)];
        BoardSnapshot &o = s.boards[static_cast<std::size_t>(i)];
        o = b.counters;
        o.fitted = b.config.fitted;
        o.state = b.state;
        o.restarting = b.restarting;
        o.version = b.version;
    }
    return s;
}

QList<Violation> Simulator::violations() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->violations;
}

QList<Event> Simulator::events() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->events;
}

QJsonObject Simulator::stateJson() const
{
    QJsonArray devices;
    for (int i = 0; i < deviceCount(); ++i) {
        const DeviceSnapshot s = snapshot(i);
        QJsonArray boards;
        std::uint32_t type = 0;
        {
            std::lock_guard<std::mutex> lock(d->mutex);
            type = d->devices[static_cast<std::size_t>(i)]->config.type;
        }
        for (int p = 0; p < kPositions; ++p) {
            const BoardSnapshot &b = s.boards[static_cast<std::size_t>(p)];
            if (!b.fitted)
                continue;
            const int imageBytes = b.fpgaImage.isEmpty() ? static_cast<int>(b.hexImage.size()) : b.fpgaImage.size();
            boards.append(QJsonObject {
                { "position", p },
                { "name", panelName(static_cast<int>(type), p) },
                { "state", boardStateName(b.state) },
                { "restarting", b.restarting },
                { "version", b.version },
                { "statusQueries", b.statusQueries },
                { "enterRequests", b.enterRequests },
                { "erases", b.erases },
                { "recordsAccepted", b.recordsAccepted },
                { "checksumErrors", b.checksumErrors },
                { "leaveRequests", b.leaveRequests },
                { "picQueries", b.picQueries },
                { "resets", b.resets },
                { "requests", b.requests },
                { "imageBytes", imageBytes },
                { "imageDigest", QString::fromLatin1(imageDigest(b)) },
            });
            if (!b.expectedDigest.isEmpty()) {
                QJsonObject last = boards.last().toObject();
                last.insert(QStringLiteral("expectedDigest"), QString::fromLatin1(b.expectedDigest));
                last.insert(QStringLiteral("imageAsExpected"), imageAsExpected(b));
                boards.replace(boards.size() - 1, last);
            }
        }
        devices.append(QJsonObject {
            { "address", s.address },
            { "port", s.port },
            { "type", static_cast<qint64>(type) },
            { "name", QString::fromLatin1(s.name) },
            { "listening", s.listening },
            { "requests", s.requests },
            { "connections", s.connections },
            { "infoRequests", s.infoRequests },
            { "renames", s.renames },
            { "identifies", s.identifies },
            { "boards", boards },
        });
    }
    QJsonArray violations;
    for (const Violation &v : this->violations())
        violations.append(QJsonObject {
            { "device", v.device }, { "what", v.what }, { "bytes", QString::fromLatin1(v.bytes.toHex(' ')) } });
    QJsonArray events;
    for (const Event &e : this->events())
        events.append(QJsonObject {
            { "timeMs", e.timeMs }, { "device", e.device }, { "position", e.position }, { "what", e.what } });
    return QJsonObject { { "timeMs", nowMs() }, { "speedUp", speedUp() }, { "devices", devices },
        { "violations", violations }, { "events", events } };
}

void Simulator::setVerbose(bool on)
{
    d->verbose.store(on);
}

QString Simulator::address(int device) const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    const DeviceRt *dev = d->device(device);
    return dev ? dev->config.address : QString();
}

qint64 Simulator::nowMs() const
{
    std::lock_guard<std::mutex> lock(d->mutex);
    return d->simNow();
}

double Simulator::speedUp() const
{
    return d->speedUp;
}

void Simulator::clearViolations()
{
    std::lock_guard<std::mutex> lock(d->mutex);
    d->violations.clear();
}

} // namespace orvo::devsim
