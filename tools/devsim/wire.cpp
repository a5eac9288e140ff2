#include "wire.h"

#include "catalogue.h"

namespace orvo::devsim::wire {

namespace {

std::uint8_t at(const QByteArray &b, int offset)
{
    return static_cast<std::uint8_t>(b.at(offset));
}

QString hex2(unsigned v)
{
    return QStringLiteral("0x%1").arg(v, 2, 16, QLatin1Char('0'));
}

// First offset in [from, to) of `b` that is not zero, or -1.
int firstNonZero(const QByteArray &b, int from, int to)
{
    for (int i = from; i < to; ++i) {
        if (b.at(i) != 0)
            return i;
    }
    return -1;
}

QString checkZeros(const QByteArray &packet, int from, int to)
{
    const int bad = firstNonZero(packet, from, to);
    if (bad < 0)
        return {};
    return QStringLiteral("byte %1 is %2, expected 0").arg(bad).arg(hex2(at(packet, bad)));
}

QString checkPanelBody(const QByteArray &packet, std::uint32_t deviceType)
{
    const PanelRequest r = decodePanelRequest(packet);
    const int b = kHeaderSize; // body offset inside the packet
    switch (r.route) {
    case 4:
    case 6: {
        if (r.size != 8)
            return QStringLiteral("route %1: size byte %2, expected 8").arg(r.route).arg(r.size);
        if (r.route == 4) {
            const bool known = (r.command == 0x55 && r.subCommand == 0)
                || (r.command == 0xAA && (r.subCommand == 0 || r.subCommand == 0x58));
            if (!known)
                return QStringLiteral("route 4: unknown command %1 / sub-command %2")
                    .arg(hex2(r.command), hex2(r.subCommand));
        } else if (r.command != 0 || r.subCommand != 0) {
            return QStringLiteral("route 6: command %1 / sub-command %2, expected 0 / 0")
                .arg(hex2(r.command), hex2(r.subCommand));
        }
        return checkZeros(packet, b + 8, b + kBodySize);
    }
    case 5: {
        if (r.command != 0 || r.subCommand != 0)
            return QStringLiteral("route 5: command %1 / sub-command %2, expected 0 / 0")
                .arg(hex2(r.command), hex2(r.subCommand));
        const int length = at(packet, b + 9);
        if (length > kMaxDataLength)
            return QStringLiteral("route 5: data length %1 above %2").arg(length).arg(kMaxDataLength);
        if (r.size != length + 15)
            return QStringLiteral("route 5: size byte %1, expected data length %2 + 15").arg(r.size).arg(length);
        if (!isFpgaBoard(static_cast<int>(deviceType), r.boardType)) {
            if (length < 16 && length % 4 != 0)
                return QStringLiteral("route 5: HEX data length %1 below 16 not padded to a multiple of 4").arg(length);
            if (at(packet, b + 14) != 0)
                return QStringLiteral("route 5: HEX record type %1, only data records (0) are sent")
                    .arg(at(packet, b + 14));
        }
        return checkZeros(packet, b + 15 + length, b + kBodySize);
    }
    case 8: {
        if (r.command != 0x2C && r.command != 0x02)
            return QStringLiteral("route 8: unknown command %1").arg(hex2(r.command));
        if (r.subCommand != 2)
            return QStringLiteral("route 8: payload count %1, expected 2").arg(r.subCommand);
        if (r.size != 6 + r.subCommand)
            return QStringLiteral("route 8: size byte %1, expected 6 + count %2").arg(r.size).arg(r.subCommand);
        return checkZeros(packet, b + 8, b + kBodySize);
    }
    default:
        return QStringLiteral("unknown route %1").arg(r.route);
    }
}

} // namespace

std::uint16_t getU16(const QByteArray &b, int offset)
{
    return static_cast<std::uint16_t>(at(b, offset) | (at(b, offset + 1) << 8));
}

std::uint32_t getU32(const QByteArray &b, int offset)
{
    return static_cast<std::uint32_t>(at(b, offset)) | (static_cast<std::uint32_t>(at(b, offset + 1)) << 8)
        | (static_cast<std::uint32_t>(at(b, offset + 2)) << 16) | (static_cast<std::uint32_t>(at(b, offset + 3)) << 24);
}

void putU16(QByteArray &b, int offset, std::uint16_t v)
{
    b[offset] = static_cast<char>(v & 0xFF);
    b[offset + 1] = static_cast<char>(v >> 8);
}

void putU32(QByteArray &b, int offset, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[offset + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

Header decodeHeader(const QByteArray &b)
{
    Header h;
    if (b.size() < kHeaderSize)
        return h;
    h.length = getU32(b, 0);
    h.magic = getU32(b, 4);
    h.kind = getU16(b, 8);
    h.deviceType = getU16(b, 10);
    return h;
}

QByteArray encodeHeader(const Header &h)
{
    QByteArray b(kHeaderSize, '\0');
    putU32(b, 0, h.length);
    putU32(b, 4, h.magic);
    putU16(b, 8, h.kind);
    putU16(b, 10, h.deviceType);
    return b;
}

int requestSize(std::uint16_t kind)
{
    switch (kind) {
    case KindInfo:
    case KindIdentify:
        return kHeaderSize;
    case KindRename:
        return kRenameSize;
    case KindPanel:
        return kPanelPacketSize;
    default:
        return 0;
    }
}

PanelRequest decodePanelRequest(const QByteArray &packet)
{
    PanelRequest r;
    if (packet.size() < kPanelPacketSize)
        return r;
    r.body = packet.mid(kHeaderSize, kBodySize);
    r.size = at(r.body, 0);
    r.route = at(r.body, 1);
    r.channel = at(r.body, 2);
    r.panel = at(r.body, 3);
    r.command = at(r.body, 4);
    r.subCommand = at(r.body, 5);
    r.boardType = at(r.body, 6);
    r.boardAddress = at(r.body, 7);
    return r;
}

QString checkRequest(const QByteArray &request, std::uint32_t deviceType)
{
    if (request.size() < kHeaderSize)
        return QStringLiteral("short request: %1 bytes").arg(request.size());
    const Header h = decodeHeader(request);
    if (h.magic != kMagic)
        return QStringLiteral("magic 0x%1, expected 0x0defaced").arg(h.magic, 8, 16, QLatin1Char('0'));
    const int size = requestSize(h.kind);
    if (size == 0)
        return QStringLiteral("unknown kind %1").arg(h.kind);
    if (request.size() != size)
        return QStringLiteral("kind %1: %2 bytes, expected %3").arg(h.kind).arg(request.size()).arg(size);
    if (h.length != static_cast<std::uint32_t>(size - kHeaderSize))
        return QStringLiteral("kind %1: header length %2, expected %3")
            .arg(h.kind)
            .arg(h.length)
            .arg(size - kHeaderSize);
    // Only the discovery probe may leave the type open (0xFFFF); every other request names the
    // type the program read from the device's record.
    const bool typeOk = h.deviceType == (deviceType & 0xFFFF) || (h.kind == KindInfo && h.deviceType == 0xFFFF);
    if (!typeOk)
        return QStringLiteral("kind %1: header device type %2, expected %3")
            .arg(h.kind)
            .arg(h.deviceType)
            .arg(deviceType);
    if (h.kind == KindRename) {
        const QByteArray name = renameName(request);
        if (name.isEmpty())
            return QStringLiteral("rename: empty name");
        if (name.size() > kMaxRenameLength)
            return QStringLiteral("rename: name of %1 bytes, at most %2").arg(name.size()).arg(kMaxRenameLength);
        return checkZeros(request, kHeaderSize + name.size(), kRenameSize);
    }
    if (h.kind == KindPanel)
        return checkPanelBody(request, deviceType);
    return {};
}

std::uint8_t recordChecksum(const QByteArray &body, bool fpgaBoard)
{
    if (body.size() < kBodySize)
        return 0;
    const int length = at(body, 9);
    if (length > kMaxDataLength)
        return 0;
    unsigned sum = 0;
    if (!fpgaBoard) {
        for (int i = 9; i <= 14; ++i)
            sum += at(body, i);
    }
    for (int i = 0; i < length; ++i)
        sum += at(body, 15 + i);
    return static_cast<std::uint8_t>(sum & 0xFF);
}

QByteArray encodePanelReply(
    std::uint16_t deviceType, const PanelRequest &request, std::uint8_t code, std::uint8_t status, std::uint8_t byte8)
{
    QByteArray reply = encodeHeader({ kBodySize, kMagic, KindPanel, deviceType });
    QByteArray body(kBodySize, '\0');
    body[0] = 9; // bytes in use: the eight of every body and the answer byte
    body[1] = static_cast<char>(code);
    body[2] = static_cast<char>(request.channel);
    body[3] = static_cast<char>(request.panel);
    body[4] = static_cast<char>(request.command);
    body[5] = static_cast<char>(status);
    body[6] = static_cast<char>(request.boardType);
    body[7] = static_cast<char>(request.boardAddress);
    body[8] = static_cast<char>(byte8);
    return reply + body;
}

QByteArray encodeRecord(
    const DeviceConfig &config, const QByteArray &name, const std::array<std::uint8_t, 4> &ip, std::uint16_t headerType)
{
    // The bytes the program does not interpret come from the template when one is given.
    QByteArray r
        = config.otherRecordBytes.size() == kRecordSize ? config.otherRecordBytes : QByteArray(kRecordSize, '\0');
    r.replace(0, kHeaderSize, encodeHeader({ kRecordLength, kMagic, KindInfo, headerType }));
    putU32(r, 12, config.type);
    for (int i = 0; i < kNameFieldSize; ++i)
        r[17 + i] = i < name.size() ? name.at(i) : '\0';
    for (int i = 0; i < 6; ++i)
        r[48 + i] = static_cast<char>(config.mac[static_cast<std::size_t>(i)]);
    for (int i = 0; i < 4; ++i)
        r[54 + i] = static_cast<char>(ip[static_cast<std::size_t>(i)]);
    r[58] = static_cast<char>(config.needsUpdate);
    putU32(r, 75, config.optionMask);
    for (int i = 0; i < 8; ++i)
        putU32(r, 91 + 4 * i, config.byData[static_cast<std::size_t>(i)]);
    return r;
}

QByteArray renameName(const QByteArray &request)
{
    if (request.size() < kRenameSize)
        return {};
    const QByteArray field = request.mid(kHeaderSize, kNameFieldSize);
    const int zero = field.indexOf('\0');
    return zero < 0 ? field : field.left(zero);
}

} // namespace orvo::devsim::wire
