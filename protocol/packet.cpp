#include "packet.h"

#include "bytes.h"
#include "catalogue.h"
#include "devicetext.h"

#include <algorithm>
#include <cstring>

namespace orvo {

void PacketHeader::encode(std::uint8_t *out) const
{
    putU32le(out, length);
    putU32le(out + 4, magic);
    putU16le(out + 8, kind);
    putU16le(out + 10, deviceType);
}

PacketHeader PacketHeader::decode(const std::uint8_t *in)
{
    PacketHeader h;
    h.length = getU32le(in);
    h.magic = getU32le(in + 4);
    h.kind = getU16le(in + 8);
    h.deviceType = getU16le(in + 10);
    return h;
}

namespace {

/// A message of `kind`: the header, then `length` body bytes, the first `n` of them (at most
/// `length`) copied from `body` and the rest zero.
QByteArray message(
    std::uint16_t kind, std::uint16_t deviceType, std::size_t length, const void *body = nullptr, std::size_t n = 0)
{
    QByteArray bytes(static_cast<int>(kHeaderSize + length), '\0');
    auto *out = reinterpret_cast<std::uint8_t *>(bytes.data());
    PacketHeader h;
    h.length = static_cast<std::uint32_t>(length);
    h.kind = kind;
    h.deviceType = deviceType;
    h.encode(out);
    if (body && n > 0)
        std::memcpy(out + kHeaderSize, body, std::min(n, length));
    return bytes;
}

QByteArray panelPacket(std::uint16_t deviceType, const PanelBody &body)
{
    return message(KindPanelCommand, deviceType, kBodySize, body.data(), body.size());
}

} // namespace

QByteArray buildDeviceInfoRequest(std::uint16_t deviceType)
{
    return message(KindDeviceInfo, deviceType, 0);
}

QByteArray buildIdentifyRequest(std::uint16_t deviceType)
{
    return message(KindIdentify, deviceType, 0);
}

QByteArray buildRenameRequest(std::uint16_t deviceType, const QByteArray &name8bit)
{
    const auto n = std::min<std::size_t>(kDeviceNameMaxChars, static_cast<std::size_t>(name8bit.size()));
    return message(KindRename, deviceType, kNameFieldSize, name8bit.constData(), n);
}

PanelRequest statusQueryRequest(const PanelSlot &slot)
{
    return { slot, RouteBootStatus, CmdStatusQuery, 0, nullptr };
}

PanelRequest enterBootLoaderRequest(const PanelSlot &slot)
{
    return { slot, RouteBootStatus, CmdBootLoader, 0, nullptr };
}

PanelRequest eraseRequest(const PanelSlot &slot)
{
    return { slot, RouteBootStatus, CmdBootLoader, SubErase, nullptr };
}

PanelRequest programDataRequest(const PanelSlot &slot, const PanelBody &record)
{
    return { slot, RouteProgramData, 0, 0, &record };
}

PanelRequest leaveBootLoaderRequest(const PanelSlot &slot)
{
    return { slot, RouteLeaveBoot, 0, 0, nullptr };
}

QByteArray buildPanelRequest(std::uint16_t deviceType, const PanelRequest &request)
{
    // Size byte: the eight addressing bytes, and for program data the seven record bytes
    // (checksum, length, address) and the data bytes after them.
    constexpr std::uint8_t kAddressingBytes = 8;
    PanelBody body {};
    body[BodySize] = kAddressingBytes;
    body[BodyRoute] = request.route;
    body[BodyChannel] = request.slot.channel;
    body[BodyPanel] = request.slot.panel;
    body[BodyCommand] = request.command;
    body[BodySubCommand] = request.subCommand;
    body[BodyBoardType] = request.slot.boardType;
    body[BodyBoardAddress] = request.slot.boardAddress;
    if (const PanelBody *record = request.record) {
        const std::uint8_t length = (*record)[BodyRecordLength];
        body[BodySize] = static_cast<std::uint8_t>(kDataOffset + length);
        std::copy(record->begin() + kAddressingBytes, record->begin() + kDataOffset, body.begin() + kAddressingBytes);
        // The length byte comes from the producer; never copy past the body whatever it says.
        const std::size_t n = std::min<std::size_t>(length, kMaxDataBytes);
        std::copy(record->begin() + kDataOffset, record->begin() + kDataOffset + n, body.begin() + kDataOffset);
    }
    return panelPacket(deviceType, body);
}

QByteArray buildServiceRequest(std::uint16_t deviceType, const PanelSlot &slot, ServiceCommand command)
{
    constexpr std::size_t kPayloadOffset = 6;
    PanelBody body {};
    body[BodySize] = static_cast<std::uint8_t>(kPayloadOffset + kServicePayloadSize);
    body[BodyRoute] = RouteService;
    body[BodyChannel] = slot.channel;
    body[BodyPanel] = slot.panel;
    body[BodyCommand] = static_cast<std::uint8_t>(command);
    body[BodySubCommand] = kServicePayloadSize;
    body[kPayloadOffset] = slot.boardType;
    body[kPayloadOffset + 1] = slot.boardAddress;
    return panelPacket(deviceType, body);
}

bool panelRequestExpectsReply(const PanelRequest &request)
{
    return (request.route == RouteBootStatus && request.command == CmdStatusQuery)
        || (request.route == RouteBootStatus && request.command == CmdBootLoader && request.subCommand == SubErase)
        || request.route == RouteProgramData;
}

bool acceptPanelReply(const std::uint8_t *data, std::size_t n, std::uint16_t requestDeviceType, PanelBody &body)
{
    if (!data || n != kPanelPacketSize)
        return false;
    const PacketHeader h = PacketHeader::decode(data);
    if (h.magic != kMagic || h.kind != KindPanelCommand)
        return false;
    if (requestDeviceType == DeviceTypeMax) {
        if (h.deviceType >= DeviceTypeMax)
            return false;
    } else if (h.deviceType != requestDeviceType) {
        return false;
    }
    std::copy(data + kHeaderSize, data + kPanelPacketSize, body.begin());
    return true;
}

bool replyMatches(const PanelBody &body, std::uint8_t replyCode, const PanelSlot &slot)
{
    return body[BodySize] != 0 && body[BodyRoute] == replyCode && body[BodyChannel] == slot.channel
        && body[BodyPanel] == slot.panel && body[BodyBoardType] == slot.boardType
        && body[BodyBoardAddress] == slot.boardAddress;
}

} // namespace orvo
