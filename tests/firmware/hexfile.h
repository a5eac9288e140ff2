#pragma once

// Builds Intel HEX text for the firmware tests, the fuzz corpus and the benchmark: records with
// correct checksums, and the image a boot loader ends up with after receiving them.

#include <QByteArray>

#include <cstdint>
#include <map>
#include <vector>

namespace orvo::testing {

/// One record line (without line end): ':' + count, address, type, data, checksum, upper case.
inline QByteArray hexRecord(std::uint16_t address, std::uint8_t type, const QByteArray &data)
{
    QByteArray bytes;
    bytes.append(char(data.size()));
    bytes.append(char(address >> 8));
    bytes.append(char(address & 0xFF));
    bytes.append(char(type));
    bytes.append(data);
    unsigned sum = 0;
    for (char c : bytes)
        sum += static_cast<std::uint8_t>(c);
    bytes.append(char((0x100 - (sum & 0xFF)) & 0xFF));
    return QByteArray(":").append(bytes.toHex().toUpper());
}

inline QByteArray extendedAddress(std::uint16_t upper)
{
    QByteArray d;
    d.append(char(upper >> 8));
    d.append(char(upper & 0xFF));
    return hexRecord(0, 4, d);
}

inline QByteArray endOfFile()
{
    return hexRecord(0, 1, QByteArray());
}

/// Joins lines with `lineEnd` after each.
inline QByteArray joinLines(const std::vector<QByteArray> &lines, const QByteArray &lineEnd = "\n")
{
    QByteArray out;
    for (const QByteArray &l : lines)
        out.append(l).append(lineEnd);
    return out;
}

/// Deterministic pseudo-random bytes.
inline QByteArray patternBytes(int n, std::uint32_t seed)
{
    QByteArray out(n, '\0');
    std::uint32_t x = seed * 2654435761u + 1;
    for (int i = 0; i < n; ++i) {
        x = x * 1103515245u + 12345u;
        out[i] = char((x >> 16) & 0xFF);
    }
    return out;
}

/// A real-looking PIC32MZ image: a reset vector in boot flash, `records` data records of
/// `recordBytes` bytes in program flash from 0x1D000000 (crossing 64 KiB segments with type-04
/// records), configuration words, and the end-of-file record. `expected` receives the bytes a
/// board with window end `dMaxAdr` ends up with (padding included).
inline QByteArray makeHexImage(int records, int recordBytes, std::uint32_t dMaxAdr,
    std::map<std::uint32_t, std::uint8_t> *expected = nullptr, std::uint32_t start = 0x1D000000, std::uint32_t seed = 1)
{
    std::vector<QByteArray> lines;
    lines.push_back(extendedAddress(0x1FC0));
    lines.push_back(hexRecord(0x0000, 0, patternBytes(16, seed + 7)));
    std::uint32_t address = start;
    std::uint16_t upper = 0xFFFF;
    for (int r = 0; r < records; ++r) {
        if ((address >> 16) != upper) {
            upper = static_cast<std::uint16_t>(address >> 16);
            lines.push_back(extendedAddress(upper));
        }
        const QByteArray data = patternBytes(recordBytes, seed + std::uint32_t(r));
        lines.push_back(hexRecord(static_cast<std::uint16_t>(address & 0xFFFF), 0, data));
        if (expected && address >= 0x1D000000 && address < dMaxAdr) {
            int padded = recordBytes;
            if (padded % 4 != 0 && padded < 16)
                padded = (padded + 3) & ~3;
            for (int i = 0; i < padded; ++i)
                (*expected)[address + std::uint32_t(i)] = i < data.size() ? std::uint8_t(data[i]) : 0;
        }
        address += std::uint32_t(recordBytes);
    }
    lines.push_back(extendedAddress(0x1FC0));
    lines.push_back(hexRecord(0xFFC0, 0, QByteArray::fromHex("FFFFFFCF")));
    lines.push_back(endOfFile());
    return joinLines(lines, "\r\n");
}

} // namespace orvo::testing
