#include "devicerecord.h"

#include "bytes.h"
#include "catalogue.h"
#include "devicetext.h"
#include "packet.h"

#include <algorithm>
#include <cstring>

namespace orvo {

QByteArray OrvoDiscoveryInfo::toByteArray() const
{
    return QByteArray(reinterpret_cast<const char *>(m_bytes.data()), static_cast<int>(kSize));
}

std::uint16_t OrvoDiscoveryInfo::headerDeviceType() const
{
    return getU16le(m_bytes.data() + 10);
}

std::uint32_t OrvoDiscoveryInfo::type() const
{
    return getU32le(m_bytes.data() + kTypeOffset);
}

QByteArray OrvoDiscoveryInfo::nameBytes() const
{
    const auto *begin = m_bytes.data() + kNameOffset;
    const auto *end = std::find(begin, begin + kNameSize, std::uint8_t(0));
    return QByteArray(reinterpret_cast<const char *>(begin), static_cast<int>(end - begin));
}

QString OrvoDiscoveryInfo::name() const
{
    return decodeDeviceText(nameBytes());
}

QString OrvoDiscoveryInfo::visibleName() const
{
    return visibleText(name());
}

std::array<std::uint8_t, 6> OrvoDiscoveryInfo::mac() const
{
    std::array<std::uint8_t, 6> mac {};
    std::copy_n(m_bytes.begin() + kMacOffset, mac.size(), mac.begin());
    return mac;
}

std::array<std::uint8_t, 4> OrvoDiscoveryInfo::ip() const
{
    std::array<std::uint8_t, 4> ip {};
    std::copy_n(m_bytes.begin() + kIpOffset, ip.size(), ip.begin());
    return ip;
}

std::uint32_t OrvoDiscoveryInfo::optionMask() const
{
    return getU32le(m_bytes.data() + kOptionMaskOffset);
}

std::uint32_t OrvoDiscoveryInfo::byData(int i) const
{
    if (i < 0 || i >= static_cast<int>(kByDataWords))
        return 0;
    return getU32le(m_bytes.data() + kByDataOffset + 4 * static_cast<std::size_t>(i));
}

void OrvoDiscoveryInfo::setHeader(
    std::uint32_t length, std::uint32_t magic, std::uint16_t kind, std::uint16_t deviceType)
{
    PacketHeader h;
    h.length = length;
    h.magic = magic;
    h.kind = kind;
    h.deviceType = deviceType;
    h.encode(m_bytes.data());
}

void OrvoDiscoveryInfo::setType(std::uint32_t type)
{
    putU32le(m_bytes.data() + kTypeOffset, type);
}

void OrvoDiscoveryInfo::setName(const QByteArray &name8bit)
{
    std::fill_n(m_bytes.begin() + kNameOffset, kNameSize, std::uint8_t(0));
    const auto n = std::min<std::size_t>(kNameSize, static_cast<std::size_t>(name8bit.size()));
    std::memcpy(m_bytes.data() + kNameOffset, name8bit.constData(), n);
}

void OrvoDiscoveryInfo::setMac(const std::array<std::uint8_t, 6> &mac)
{
    std::copy(mac.begin(), mac.end(), m_bytes.begin() + kMacOffset);
}

void OrvoDiscoveryInfo::setIp(const std::array<std::uint8_t, 4> &ip)
{
    std::copy(ip.begin(), ip.end(), m_bytes.begin() + kIpOffset);
}

void OrvoDiscoveryInfo::setOptionMask(std::uint32_t mask)
{
    putU32le(m_bytes.data() + kOptionMaskOffset, mask);
}

void OrvoDiscoveryInfo::setByData(int i, std::uint32_t value)
{
    if (i >= 0 && i < static_cast<int>(kByDataWords))
        putU32le(m_bytes.data() + kByDataOffset + 4 * static_cast<std::size_t>(i), value);
}

QString ipText(const OrvoDiscoveryInfo &record)
{
    const auto ip = record.ip();
    return QStringLiteral("%1.%2.%3.%4").arg(ip[0]).arg(ip[1]).arg(ip[2]).arg(ip[3]);
}

QString macText(const OrvoDiscoveryInfo &record)
{
    const auto mac = record.mac();
    QString text;
    for (std::size_t i = 0; i < mac.size(); ++i) {
        if (i)
            text += QLatin1Char(':');
        text += QStringLiteral("%1").arg(mac[i], 2, 16, QLatin1Char('0'));
    }
    return text;
}

std::optional<OrvoDiscoveryInfo> acceptDeviceRecord(const std::uint8_t *data, std::size_t n)
{
    if (!data || n != OrvoDiscoveryInfo::kSize)
        return std::nullopt;
    const PacketHeader h = PacketHeader::decode(data);
    if (h.magic != kMagic || h.kind != KindDeviceInfo || h.deviceType >= DeviceTypeMax)
        return std::nullopt;
    OrvoDiscoveryInfo::Bytes bytes;
    std::copy_n(data, bytes.size(), bytes.begin());
    return OrvoDiscoveryInfo(bytes);
}

std::optional<OrvoDiscoveryInfo> addOrReplaceDevice(DeviceList &list, const OrvoDiscoveryInfo &record)
{
    const auto mac = record.mac();
    for (auto &entry : list) {
        if (entry.mac() == mac) {
            const OrvoDiscoveryInfo replaced = entry;
            entry = record;
            return replaced;
        }
    }
    list.append(record);
    return std::nullopt;
}

void registerMetaTypes()
{
    qRegisterMetaType<OrvoDiscoveryInfo>();
    qRegisterMetaType<DeviceList>();
    qRegisterMetaType<DeviceList>("QVector <OrvoDiscoveryInfo>");
}

} // namespace orvo
