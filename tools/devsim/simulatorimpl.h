#pragma once

// The simulator's run-time state, shared by the files that serve it: the connections and their
// replies (connection.cpp), each device's answers and boards (devicestate.cpp), the faults
// (faults.cpp), the devices' setup (deviceconfig.cpp) and the public interface (simulator.cpp).
// Every member function but the constructor runs with `mutex` held.

#include "simulator.h"
#include "wire.h"

#include <QList>

#include <boost/asio.hpp>

#include <atomic>
#include <chrono>
#include <list>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace orvo::devsim {

namespace asio = boost::asio;
using tcp = asio::ip::tcp;
using SteadyClock = std::chrono::steady_clock;

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

    // --- time and records (simulator.cpp)
    SteadyClock::duration realDuration(double simMs) const;
    qint64 simNow() const;
    void event(int dev, int position, const QString &what);
    void violation(int dev, const QString &what, const QByteArray &bytes);
    DeviceRt *device(int index) const;
    void closeAll(); // shutting down, on the I/O thread

    // --- faults (faults.cpp)
    std::vector<FaultRt *> activeFaults(int dev, int position, int deviceRequest, int boardRequest);
    static FaultRt *find(const std::vector<FaultRt *> &list, FaultKind kind);
    bool listeningBlocked(int dev, bool *vanished);
    void startVanishTimer(int faultId, FaultRt &f);
    void applyReplyFaults(const std::vector<FaultRt *> &active, std::uint16_t kind, Plan *plan);
    void flood(const std::shared_ptr<Connection> &conn, const Plan &plan);
    void floodWrite(const std::shared_ptr<Connection> &conn);
    void drain(const std::shared_ptr<Connection> &conn);
    bool transferGoesOn(Connection &conn, const boost::system::error_code &ec);

    // --- listening and connections (connection.cpp; I/O thread or before start)
    bool openAcceptor(DeviceRt &d, std::uint16_t port, QString *error);
    void closeAcceptor(DeviceRt &d);
    void closeConnections(DeviceRt &d);
    void updateListening(int dev);
    void accept(int dev, const std::shared_ptr<tcp::acceptor> &acceptor);
    void closeSocket(Connection &c);
    void startConnection(const std::shared_ptr<Connection> &conn);
    void readPart(const std::shared_ptr<Connection> &conn, int total);
    void onShortRequest(const std::shared_ptr<Connection> &conn);
    void onHeader(const std::shared_ptr<Connection> &conn);
    void onRequest(const std::shared_ptr<Connection> &conn);
    void deliver(const std::shared_ptr<Connection> &conn, const Plan &plan);
    void write(const std::shared_ptr<Connection> &conn, int from);

    // --- the device's behaviour (devicestate.cpp)
    Plan handle(int dev, const QByteArray &request, bool trailingBytes);
    QByteArray record(const DeviceRt &d, const std::vector<FaultRt *> &active);
    std::optional<std::uint8_t> boardRequestReply(
        int dev, int position, const wire::PanelRequest &r, const std::vector<FaultRt *> &active, std::uint8_t *status);
    std::optional<std::uint8_t> programRecord(
        int dev, int position, const wire::PanelRequest &r, const std::vector<FaultRt *> &active, bool fpga);
    void restart(int dev, int position, BoardState after, std::optional<std::uint8_t> version);
    static void endRestart(DeviceRt &d, BoardRt &b);
};

} // namespace orvo::devsim
