#pragma once

// Device simulator: plays the device side of the TCP protocol for any number of devices on
// loopback (or any given address), with the boards' boot loaders and injectable faults.
// Its wire encoding is written apart from the program's protocol code on purpose: it is the
// oracle of the integration tests, and a mistake shared by both sides would go unseen.

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>

#include <array>
#include <cstdint>
#include <map>
#include <memory>

namespace orvo::devsim {

constexpr int kPositions = 24;

enum class BoardState { Running, BootLoader, Erased };

/// One catalogue position of a simulated device.
struct BoardConfig
{
    bool fitted = false;
    BoardState state = BoardState::Running;
    std::uint8_t version = 0; ///< reported by the status query (body byte 8)
    int picVariant = 0;       ///< 0..11 answered to the PIC query; -1: no answer (closes)
    int newVersion = -1;      ///< version after a new image; -1: the board's build version
    int restartMs = 2000;     ///< restart time in simulator time (see speed-up)
};

/// One simulated device.
struct DeviceConfig
{
    QString address = QStringLiteral("127.0.0.2"); ///< IPv4 address it listens on
    QString recordAddress;                         ///< IPv4 address its record names; empty: `address`
    std::uint16_t port = 0;                        ///< 0: the simulator's common port (see Simulator::start)
    std::uint32_t type = 0;                        ///< device type 0..4 (record offset 12)
    QByteArray name = "Orvo Device";
    std::array<std::uint8_t, 6> mac { { 0x00, 0x1a, 0x2b, 0x00, 0x00, 0x01 } };
    std::uint8_t needsUpdate = 0;
    std::uint32_t optionMask = 0;
    std::array<std::uint32_t, 8> byData {};
    QByteArray otherRecordBytes; ///< optional 123-byte template for the uninterpreted bytes
    std::array<BoardConfig, kPositions> boards {};
};

/// A device with every catalogue position of its type fitted, running its build version.
DeviceConfig defaultDevice(int type, const QString &address);

enum class FaultKind {
    NeverAnswer,           ///< accepts, reads the request, closes without a reply
    WrongReplyCode,        ///< replies with another reply code
    WrongEcho,             ///< echoes another channel/panel/board (param: body byte to change)
    ChecksumRefusals,      ///< 'm' for the first `param` program records (then 'k')
    SplitReply,            ///< reply in two segments, 40 then 36 bytes, `param` ms apart
    DelayReply,            ///< reply delayed by `param` ms
    AcceptNoAnswer,        ///< accepts and holds the connection open without answering
    EraseNeverConfirmed,   ///< erase answered with 'j' but never with status 'Y'
    StayInBootLoader,      ///< after leave, restarts into the boot loader again
    VersionZeroAfterImage, ///< reports version 0 after a new image
    WrongLength,           ///< reply of `param` bytes instead of 76 (or 123)
    WrongKind,             ///< reply header with another kind
    WrongDeviceType,       ///< reply header with device type `param`
    DiscoveryType5,        ///< device record with header device type 5
    RefuseConnections,     ///< the device refuses connections (no listener) until the fault is removed
    Vanish,                ///< stops listening and drops its open connections; back when the fault is
                           ///< removed, or after `param` ms when `param` > 0
    // Hostile peers: what a misbehaving or malicious host on port 51000 may send.
    LongReply,     ///< the reply followed by `param` more bytes (0: 64 KiB), then the close
    AllBytesFF,    ///< every reply byte 0xFF; `param` 1 keeps the 12-byte header intact
    Trickle,       ///< the reply one byte at a time, `param` ms apart (0: 100 ms)
    Flood,         ///< after the request, copies of its reply (or filler where none is due)
                   ///< for `param` bytes (0: without end), and the connection never ends
    ForeignRecord, ///< answers with the record of device `param`: its MAC and its address
};

/// A fault on one device (`position` -1) or one board. It applies from the `startAt`-th request
/// to that device or board (1 = the first), to `count` requests (-1 = all following).
/// RefuseConnections and Vanish count the device's requests whatever `position` says: the device
/// stops listening once `startAt` - 1 requests have been served; `count` does not apply to them.
struct Fault
{
    FaultKind kind = FaultKind::NeverAnswer;
    int position = -1;
    int startAt = 1;
    int count = -1;
    int param = 0;
};

struct Violation
{
    QString device;   ///< device address
    QString what;     ///< what was wrong
    QByteArray bytes; ///< the request as received
};

struct Event
{
    qint64 timeMs = 0; ///< simulator time since start
    QString device;
    int position = -1;
    QString what; ///< e.g. "status", "enter", "erase", "record", "leave", "pic", "reset", "info", "rename", "identify"
};

struct BoardSnapshot
{
    bool fitted = false;
    BoardState state = BoardState::Running;
    bool restarting = false;
    std::uint8_t version = 0;
    int statusQueries = 0, enterRequests = 0, erases = 0, recordsAccepted = 0, checksumErrors = 0, leaveRequests = 0,
        picQueries = 0, resets = 0, requests = 0;
    std::map<std::uint32_t, std::uint8_t> hexImage; ///< address -> byte written (HEX boards)
    QByteArray fpgaImage;                           ///< bytes written in order (FPGA boards)
    QByteArray expectedDigest; ///< imageDigest of the image the board should end up with; empty: none told
};

struct DeviceSnapshot
{
    QString address;
    QByteArray name;
    int identifies = 0, renames = 0, infoRequests = 0, connections = 0;
    std::array<BoardSnapshot, kPositions> boards {};
    int requests = 0;       ///< complete requests received (violations included)
    bool listening = false; ///< whether the device accepts connections right now
    std::uint16_t port = 0; ///< the port it listens on
};

/// Hex SHA-256 of a board's written image: over the FPGA byte string when there is one, else
/// over the HEX map as (address u32 little-endian, byte) pairs in address order.
QByteArray imageDigest(const BoardSnapshot &board);

/// The imageDigest a board ends up with after a correct download of firmware file `file`:
/// raw bytes for an FPGA board; for a PIC board the Intel HEX data records that start inside
/// [0x1D000000, `flashEnd`), each padded with zeros to a multiple of 4 when shorter than 16
/// bytes, later records over earlier ones. Read here, apart from the program's own parser.
QByteArray expectedImageDigest(const QByteArray &file, bool fpga, std::uint32_t flashEnd);

/// Whether the board was told an image to expect and holds exactly that image.
bool imageAsExpected(const BoardSnapshot &board);

/// Name of a board state as used in the JSON state and configs: "running", "bootloader", "erased".
QString boardStateName(BoardState state);
/// Name of a fault kind as used in the JSON state and configs (the enumerator's name).
QString faultKindName(FaultKind kind);
/// The fault kind of `name` (case-insensitive); false for an unknown name.
bool faultKindFromName(const QString &name, FaultKind *kind);

/// Runs simulated devices on a thread of its own. Thread-safe: tests call it from any thread.
class Simulator
{
public:
    /// `speedUp` >= 1 shortens restart times and reply delays (simulator time runs faster).
    explicit Simulator(double speedUp = 1.0);
    ~Simulator(); ///< stops and joins

    Simulator(const Simulator &) = delete;
    Simulator &operator=(const Simulator &) = delete;

    /// Adds a device before start(); returns its id (0, 1, ...).
    int addDevice(const DeviceConfig &config);
    /// Binds every device and starts serving. Devices with port 0 share one free port, chosen
    /// here (or `commonPort` when given). False with `error` set when an address cannot be bound.
    bool start(std::uint16_t commonPort = 0, QString *error = nullptr);
    void stop();
    std::uint16_t port(int device = 0) const;
    int deviceCount() const;

    /// Adds a fault (while running too); returns its id.
    int addFault(int device, const Fault &fault);
    void removeFault(int faultId);
    void clearFaults(int device);

    /// Tells a board which firmware file the program should write to it (see
    /// expectedImageDigest; the flash window follows the board's `picVariant`). The snapshot and
    /// the JSON state then say whether the written image equals it. False for no such board.
    bool expectImage(int device, int position, const QByteArray &file);

    /// Changes a board while running (state, version, ...).
    void setBoard(int device, int position, const BoardConfig &board);

    DeviceSnapshot snapshot(int device) const;
    QList<Violation> violations() const;
    QList<Event> events() const;
    QJsonObject stateJson() const;

    /// Whether request logging to stderr is on (the program's -v).
    void setVerbose(bool on);

    /// Address a device listens on.
    QString address(int device) const;
    /// Simulator time in ms since start() (real time times the speed-up).
    qint64 nowMs() const;
    double speedUp() const;
    /// Forgets the recorded violations (a test that sent bad requests on purpose).
    void clearViolations();

private:
    void updateListeningNow(int device);

    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace orvo::devsim
