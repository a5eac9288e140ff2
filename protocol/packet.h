#pragma once

#include "catalogue.h"

#include <QByteArray>

#include <array>
#include <cstddef>
#include <cstdint>

namespace orvo {

constexpr std::uint32_t kMagic = 0x0DEFACED;
constexpr std::uint16_t kDevicePort = 51000;         ///< TCP port of every device
constexpr std::uint16_t kUnknownDeviceType = 0xFFFF; ///< header type of the discovery probe

constexpr std::size_t kHeaderSize = 12;
constexpr std::size_t kBodySize = 64;
constexpr std::size_t kPanelPacketSize = kHeaderSize + kBodySize; ///< 76
constexpr std::size_t kNameFieldSize = 31;
constexpr std::size_t kRenamePacketSize = kHeaderSize + kNameFieldSize; ///< 43
constexpr std::size_t kMaxDataBytes = 49; ///< data bytes a program-data body holds (15..63)
constexpr std::size_t kDataOffset = 15;   ///< body offset of the first data byte

static_assert(kPanelPacketSize == 76, "panel command is 76 bytes");
static_assert(kRenamePacketSize == 43, "rename request is 43 bytes");
static_assert(kDataOffset + kMaxDataBytes == kBodySize, "data fills the body to its end");

enum MessageKind : std::uint16_t {
    KindDeviceInfo = 0,
    KindRename = 1,
    KindIdentify = 2,
    KindPanelCommand = 3,
};

/// Reply codes (body byte 1 of a reply) and status bytes (body byte 5).
enum : std::uint8_t {
    ReplyStatus = 0x6A,      ///< 'j'
    ReplyAccepted = 0x6B,    ///< 'k'
    ReplyChecksum = 0x6D,    ///< 'm'
    ReplyPicType = 0x6F,     ///< 'o'
    StatusBootLoader = 0x56, ///< 'V'
    StatusRunning = 0x57,    ///< 'W'
    StatusErased = 0x59,     ///< 'Y'
};

/// Request bytes: routes and commands of the panel command.
enum : std::uint8_t {
    RouteBootStatus = 4,
    RouteProgramData = 5,
    RouteLeaveBoot = 6,
    RouteService = 8,
    CmdStatusQuery = 0x55,
    CmdBootLoader = 0xAA,
    SubErase = 0x58,
};

/// Commands of a service request (route 8).
enum class ServiceCommand : std::uint8_t {
    Reset = 0x02,    ///< the board restarts and sends nothing back
    PicQuery = 0x2C, ///< answered with 'o' and the PIC32MZ variant in the payload byte
};

/// Payload bytes of every service request: the board type and address of its slot.
constexpr std::uint8_t kServicePayloadSize = 2;

/// The 12-byte header of every message, little-endian on the wire.
struct PacketHeader
{
    static constexpr std::size_t kSize = kHeaderSize;

    std::uint32_t length = 0;
    std::uint32_t magic = kMagic;
    std::uint16_t kind = 0;
    std::uint16_t deviceType = 0;

    /// Writes the 12 bytes at `out`.
    void encode(std::uint8_t *out) const;
    /// Reads 12 bytes from `in`; no field is checked.
    static PacketHeader decode(const std::uint8_t *in);
};

/// A 64-byte panel message body (packet bytes 12..75).
using PanelBody = std::array<std::uint8_t, kBodySize>;

/// Body byte offsets.
enum BodyByte : std::size_t {
    BodySize = 0,
    BodyRoute = 1, ///< route in a request, reply code in a reply
    BodyChannel = 2,
    BodyPanel = 3,
    BodyCommand = 4,
    BodySubCommand = 5, ///< sub-command in a request, status in a reply
    BodyBoardType = 6,
    BodyBoardAddress = 7,
    BodyPayload = 8,      ///< version or PIC variant in a reply
    BodyRecordLength = 9, ///< data bytes of a program-data record (its checksum is byte 8)
};

/// Device information request: the header alone, `length` 0 (12 bytes).
QByteArray buildDeviceInfoRequest(std::uint16_t deviceType);

/// Rename request (43 bytes): the first kDeviceNameMaxChars bytes of `name8bit`, zero-filled to 31.
QByteArray buildRenameRequest(std::uint16_t deviceType, const QByteArray &name8bit);

/// Identify request: the header alone, `length` 0 (12 bytes).
QByteArray buildIdentifyRequest(std::uint16_t deviceType);

/// A panel command on route 4, 5 or 6: the board it goes to and what it asks. The makers below
/// name the commands the update sends.
struct PanelRequest
{
    PanelSlot slot;
    std::uint8_t route = RouteBootStatus;
    std::uint8_t command = 0;
    std::uint8_t subCommand = 0;
    /// Program data only: the record body whose bytes 8..14 and as many data bytes as its
    /// BodyRecordLength byte says (at most kMaxDataBytes) go out. Null for every other command.
    const PanelBody *record = nullptr;
};

// The commands of an update, in the order it sends them.
PanelRequest statusQueryRequest(const PanelSlot &slot);
PanelRequest enterBootLoaderRequest(const PanelSlot &slot);
PanelRequest eraseRequest(const PanelSlot &slot);
/// `record` must outlive the request, which keeps only its address.
PanelRequest programDataRequest(const PanelSlot &slot, const PanelBody &record);
PanelRequest programDataRequest(const PanelSlot &slot, PanelBody &&record) = delete;
PanelRequest leaveBootLoaderRequest(const PanelSlot &slot);

/// The 76 bytes of `request`. Body byte 0 is 8, or 15 + the record's data length for program data.
QByteArray buildPanelRequest(std::uint16_t deviceType, const PanelRequest &request);

/// Service request on route 8 (76 bytes): byte 0 = 8, byte 5 = kServicePayloadSize, and the
/// slot's board type and address as the payload.
QByteArray buildServiceRequest(std::uint16_t deviceType, const PanelSlot &slot, ServiceCommand command);

/// True when the panel command expects a reply: route 4 with 0x55, route 4 with 0xAA/0x58,
/// and route 5.
bool panelRequestExpectsReply(const PanelRequest &request);

/// Acceptance rule of a kind-3 reply: exactly 76 bytes, magic, kind 3, and the device type
/// equal to the request's (any of 0..4 when the request carried 5). On success the body is
/// copied into `body`; on failure `body` is left untouched.
bool acceptPanelReply(const std::uint8_t *data, std::size_t n, std::uint16_t requestDeviceType, PanelBody &body);

/// True when `body` byte 0 is nonzero, byte 1 is `replyCode` and bytes 2, 3, 6, 7 echo the
/// channel, panel, board type and board address of `slot`.
bool replyMatches(const PanelBody &body, std::uint8_t replyCode, const PanelSlot &slot);

} // namespace orvo
