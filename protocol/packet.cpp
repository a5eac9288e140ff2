#include "packet.h"

#include "bytes.h"
#include "catalogue.h"

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
    const auto n = std::min<std::size_t>(kMaxNameLength, static_cast<std::size_t>(name8bit.size()));
    return message(KindRename, deviceType, kNameFieldSize, name8bit.constData(), n);
}

QByteArray buildPanelRequest(std::uint16_t deviceType, std::uint8_t route, std::uint8_t channel, std::uint8_t panel,
    std::uint8_t extra, std::uint8_t command, std::uint8_t subCommand, std::uint8_t boardType,
    std::uint8_t boardAddress, const PanelBody *txBody)
{
    PanelBody body {};
    body[BodySize] = static_cast<std::uint8_t>(extra + 4);
    body[BodyRoute] = route;
    body[BodyChannel] = channel;
    body[BodyPanel] = panel;
    body[BodyCommand] = command;
    body[BodySubCommand] = subCommand;
    body[BodyBoardType] = boardType;
    body[BodyBoardAddress] = boardAddress;
    if (extra > 4 && txBody) {
        std::copy(txBody->begin() + 8, txBody->begin() + kDataOffset, body.begin() + 8);
        // The length byte comes from the producer; never copy past the body whatever it says.
        const std::size_t n = std::min<std::size_t>((*txBody)[9], kMaxDataBytes);
        std::copy(txBody->begin() + kDataOffset, txBody->begin() + kDataOffset + n, body.begin() + kDataOffset);
    }
    return panelPacket(deviceType, body);
}

QByteArray buildServiceRequest(std::uint16_t deviceType, std::uint8_t channel, std::uint8_t panel, std::uint8_t count,
    std::uint8_t command, const std::uint8_t *payload)
{
    constexpr std::size_t kPayloadRoom = kBodySize - 6;
    const std::size_t n = std::min<std::size_t>(count, kPayloadRoom);
    PanelBody body {};
    body[BodySize] = static_cast<std::uint8_t>(n + 6);
    body[BodyRoute] = RouteService;
    body[BodyChannel] = channel;
    body[BodyPanel] = panel;
    body[BodyCommand] = command;
    body[BodySubCommand] = static_cast<std::uint8_t>(n);
    if (payload && n > 0)
        std::memcpy(body.data() + 6, payload, n);
    return panelPacket(deviceType, body);
}

bool panelRequestExpectsReply(std::uint8_t route, std::uint8_t command, std::uint8_t subCommand)
{
    return (route == RouteBootStatus && command == CmdStatusQuery)
        || (route == RouteBootStatus && command == CmdBootLoader && subCommand == SubErase)
        || route == RouteProgramData;
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

bool replyMatches(const PanelBody &body, std::uint8_t replyCode, std::uint8_t channel, std::uint8_t panel,
    std::uint8_t boardType, std::uint8_t boardAddress)
{
    return body[BodySize] != 0 && body[BodyRoute] == replyCode && body[BodyChannel] == channel
        && body[BodyPanel] == panel && body[BodyBoardType] == boardType && body[BodyBoardAddress] == boardAddress;
}

} // namespace orvo
