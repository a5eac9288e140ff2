#pragma once

// The simulator's own reading and writing of the wire bytes. Kept apart from the program's
// protocol code on purpose: if both sides shared one encoder, a wrong byte would pass every test.

#include "devicetext.h"
#include "simulator.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <cstdint>

namespace orvo::devsim::wire {

constexpr std::uint32_t kMagic = 0x0DEFACED;
constexpr int kHeaderSize = 12;
constexpr int kBodySize = 64;
constexpr int kPanelPacketSize = kHeaderSize + kBodySize; // 76
constexpr int kNameFieldSize = 31;
constexpr int kRenameSize = kHeaderSize + kNameFieldSize; // 43
constexpr int kRecordSize = 123;
constexpr int kRecordLength = kRecordSize - kHeaderSize; // 111, the record header's length field
constexpr int kMaxDataLength = 49;                       // data bytes a program-data body can carry
constexpr int kMaxRenameLength = orvo::kDeviceNameMaxChars;

enum Kind : std::uint16_t { KindInfo = 0, KindRename = 1, KindIdentify = 2, KindPanel = 3 };

constexpr std::uint8_t kReplyStatus = 'j';
constexpr std::uint8_t kReplyAccepted = 'k';
constexpr std::uint8_t kReplyChecksum = 'm';
constexpr std::uint8_t kReplyPic = 'o';
constexpr std::uint8_t kStatusBootLoader = 'V';
constexpr std::uint8_t kStatusRunning = 'W';
constexpr std::uint8_t kStatusErased = 'Y';

std::uint16_t getU16(const QByteArray &b, int offset);
std::uint32_t getU32(const QByteArray &b, int offset);
void putU16(QByteArray &b, int offset, std::uint16_t v);
void putU32(QByteArray &b, int offset, std::uint32_t v);

struct Header
{
    std::uint32_t length = 0;
    std::uint32_t magic = 0;
    std::uint16_t kind = 0;
    std::uint16_t deviceType = 0;
};

/// Reads the 12-byte header at the start of `b` (which must hold at least 12 bytes).
Header decodeHeader(const QByteArray &b);
QByteArray encodeHeader(const Header &h);

/// Bytes a request of `kind` has in all (header included); 0 for a kind no request has.
int requestSize(std::uint16_t kind);

/// The body of a panel command, field by field (body offsets in the comments).
struct PanelRequest
{
    std::uint8_t size = 0;         // 0
    std::uint8_t route = 0;        // 1
    std::uint8_t channel = 0;      // 2
    std::uint8_t panel = 0;        // 3
    std::uint8_t command = 0;      // 4
    std::uint8_t subCommand = 0;   // 5 (route 8: payload count)
    std::uint8_t boardType = 0;    // 6
    std::uint8_t boardAddress = 0; // 7
    QByteArray body;               // all 64 body bytes
};

/// Splits a 76-byte panel command into its fields.
PanelRequest decodePanelRequest(const QByteArray &packet);

/// Checks a complete request (exactly requestSize(kind) bytes) sent to a device of type
/// `deviceType`. Returns an empty text when it is sound, else what is wrong with it.
QString checkRequest(const QByteArray &request, std::uint32_t deviceType);

/// Checksum of a program-data body as the boot loader verifies it: over body bytes 9..14 and the
/// data for a HEX board, over the data alone for an FPGA board; low 8 bits.
std::uint8_t recordChecksum(const QByteArray &body, bool fpgaBoard);

/// A 76-byte reply to `request` from a device of `deviceType`: echoes channel, panel, command,
/// board type and board address, carries `code`, `status` and `byte8`.
QByteArray encodePanelReply(
    std::uint16_t deviceType, const PanelRequest &request, std::uint8_t code, std::uint8_t status, std::uint8_t byte8);

/// The 123-byte device record. `ip` is the listening address; `headerType` the header's device type.
QByteArray encodeRecord(const DeviceConfig &config, const QByteArray &name, const std::array<std::uint8_t, 4> &ip,
    std::uint16_t headerType);

/// The name carried in a rename request: the 31-byte field up to its first zero byte.
QByteArray renameName(const QByteArray &request);

} // namespace orvo::devsim::wire
