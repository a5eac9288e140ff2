#pragma once

#include <QByteArray>
#include <QMetaType>
#include <QString>
#include <QVector>

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace orvo {

/// The 123-byte record a device sends about itself, kept byte for byte as received.
///
/// Layout (little-endian, packed): 0 header (12), 12 type u32, 16 one byte, 17 name[31],
/// 48 mac[6], 54 ip[4], 58 needsUpdate, 59 sixteen bytes, 75 optionMask u32, 79 twelve bytes,
/// 91 byData u32[8].
class OrvoDiscoveryInfo
{
public:
    static constexpr std::size_t kSize = 123;
    static constexpr std::size_t kTypeOffset = 12;
    static constexpr std::size_t kNameOffset = 17;
    static constexpr std::size_t kNameSize = 31;
    static constexpr std::size_t kMacOffset = 48;
    static constexpr std::size_t kIpOffset = 54;
    static constexpr std::size_t kNeedsUpdateOffset = 58;
    static constexpr std::size_t kOptionMaskOffset = 75;
    static constexpr std::size_t kByDataOffset = 91;
    static constexpr std::size_t kByDataWords = 8;

    static_assert(kByDataOffset + 4 * kByDataWords == kSize, "byData ends the record");
    static_assert(kNameOffset + kNameSize == kMacOffset, "name runs up to the MAC");

    using Bytes = std::array<std::uint8_t, kSize>;

    OrvoDiscoveryInfo() { m_bytes.fill(0); }
    explicit OrvoDiscoveryInfo(const Bytes &bytes) : m_bytes(bytes) { }

    const Bytes &bytes() const { return m_bytes; }
    QByteArray toByteArray() const;

    std::uint16_t headerDeviceType() const;
    /// The 32-bit device type field (offset 12).
    std::uint32_t type() const;
    /// Low 16 bits of the type field, the `deviceType` of every request to this device.
    std::uint16_t requestDeviceType() const { return static_cast<std::uint16_t>(type() & 0xFFFF); }
    /// Name bytes up to the first zero, at most 31.
    QByteArray nameBytes() const;
    /// Name decoded from Windows-1252 (decodeDeviceText), exactly as sent, controls included.
    QString name() const;
    /// The name as terminals, log files and the window show it (visibleText of name()).
    QString visibleName() const;
    std::array<std::uint8_t, 6> mac() const;
    std::array<std::uint8_t, 4> ip() const;
    std::uint8_t needsUpdate() const { return m_bytes[kNeedsUpdateOffset]; }
    std::uint32_t optionMask() const;
    /// Word `i` (0..7) of byData; 0 for any other index.
    std::uint32_t byData(int i) const;

    // Setters, for building records in tests and tools.
    void setHeader(std::uint32_t length, std::uint32_t magic, std::uint16_t kind, std::uint16_t deviceType);
    void setType(std::uint32_t type);
    void setName(const QByteArray &name8bit); ///< at most 31 bytes are kept, zero-filled
    void setMac(const std::array<std::uint8_t, 6> &mac);
    void setIp(const std::array<std::uint8_t, 4> &ip);
    void setNeedsUpdate(std::uint8_t v) { m_bytes[kNeedsUpdateOffset] = v; }
    void setOptionMask(std::uint32_t mask);
    void setByData(int i, std::uint32_t value);

    friend bool operator==(const OrvoDiscoveryInfo &a, const OrvoDiscoveryInfo &b) { return a.m_bytes == b.m_bytes; }
    friend bool operator!=(const OrvoDiscoveryInfo &a, const OrvoDiscoveryInfo &b) { return !(a == b); }

private:
    Bytes m_bytes;
};

using DeviceList = QVector<OrvoDiscoveryInfo>;

/// Dotted decimal form of the record's IPv4 address ("192.168.1.20").
QString ipText(const OrvoDiscoveryInfo &record);
/// Lower-case colon form of the record's MAC ("00:1a:2b:3c:4d:5e").
QString macText(const OrvoDiscoveryInfo &record);

/// Acceptance rule of a device record (the answer to kinds 0 and 1): exactly 123 bytes, magic,
/// kind 0, header device type 0..4 as an unsigned 16-bit value.
std::optional<OrvoDiscoveryInfo> acceptDeviceRecord(const std::uint8_t *data, std::size_t n);

/// Overwrites the first record with the same MAC, or appends. Returns the record it overwrote.
std::optional<OrvoDiscoveryInfo> addOrReplaceDevice(DeviceList &list, const OrvoDiscoveryInfo &record);

/// Registers the types that cross threads, the device list as "QVector <OrvoDiscoveryInfo>".
/// Call once at start-up, before any worker is created.
void registerMetaTypes();

} // namespace orvo

Q_DECLARE_METATYPE(orvo::OrvoDiscoveryInfo)
Q_DECLARE_METATYPE(orvo::DeviceList)
