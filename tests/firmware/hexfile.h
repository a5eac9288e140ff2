#pragma once

// Builds Intel HEX text for the firmware tests, the fuzz corpus and the benchmark: records with
// correct checksums, and the image a boot loader ends up with after receiving them. The records
// themselves come from the program's own HEX writer.

#include "hexwriter.h"

#include <QByteArray>

#include <cstdint>
#include <map>
#include <vector>

namespace orvo::testing {

/// One record line (without line end): ':' + count, address, type, data, checksum, upper case.
inline QByteArray hexRecord(std::uint16_t address, std::uint8_t type, const QByteArray &data)
{
    return hexRecordLine(address, type, data);
}

inline QByteArray extendedAddress(std::uint16_t upper)
{
    const char half[] = { char(upper >> 8), char(upper & 0xFF) };
    return hexRecord(0, 4, QByteArray(half, 2));
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
    HexWriter hex("\r\n");
    hex.addData(0x1FC00000, patternBytes(16, seed + 7));
    std::uint32_t address = start;
    for (int r = 0; r < records; ++r) {
        const QByteArray data = patternBytes(recordBytes, seed + std::uint32_t(r));
        hex.addData(address, data);
        if (expected && address >= 0x1D000000 && address < dMaxAdr) {
            int padded = recordBytes;
            if (padded % 4 != 0 && padded < 16)
                padded = (padded + 3) & ~3;
            for (int i = 0; i < padded; ++i)
                (*expected)[address + std::uint32_t(i)] = i < data.size() ? std::uint8_t(data[i]) : 0;
        }
        address += std::uint32_t(recordBytes);
    }
    hex.addData(0x1FC0FFC0, QByteArray::fromHex("FFFFFFCF"));
    return hex.finish();
}

} // namespace orvo::testing
