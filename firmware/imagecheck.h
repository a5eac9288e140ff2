#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>

namespace orvo {

/// Largest firmware file the program reads (bytes); the largest real image is a few MB.
constexpr std::int64_t kMaxFirmwareFileSize = 64LL * 1024 * 1024;

/// Outcome of the whole-file check done before a board is touched.
struct ImageCheck
{
    bool ok = true;
    int line = 0;  ///< 1-based line of the fault; 0 for a fault of the whole file
    QString fault; ///< short lower-case text, e.g. "checksum mismatch"
    /// The file is sound but would leave the board without a working image.
    bool unfit = false;

    /// The activity line for a refused file:
    /// "*** Error: Firmware file is damaged (line 12: checksum mismatch)!", or for an unfit one
    /// "*** Error: Firmware file cannot be written to this board (no data record inside its
    /// program flash 0x1D000000-0x1D1FFFFF)!".
    QString errorLine() const;
};

/// Checks a whole loaded firmware file. HEX (`fpgaBoard` false): every non-empty line is a
/// record that starts with ':', has hexadecimal digits only, a byte count that matches the
/// line, a correct record checksum and at most 49 data bytes; a type-04 record carries two
/// data bytes; an end-of-file record is present. CR LF and LF line ends are both accepted.
/// FPGA image: not empty. Either: no larger than kMaxFirmwareFileSize.
ImageCheck checkFirmwareImage(const QByteArray &content, bool fpgaBoard);

/// The memory map of a HEX file that passed checkFirmwareImage, for a board whose program flash
/// ends at `dMaxAdr`: at least one data record starts inside the window (else the erase would
/// leave the board with nothing to start), and no two data records inside it share a byte (the
/// later one would silently overwrite the earlier). Records partly outside stay as they are.
ImageCheck checkMemoryMap(const QByteArray &content, std::uint32_t dMaxAdr);

/// The same check for a size alone, before reading: a file above kMaxFirmwareFileSize fails.
ImageCheck checkFirmwareSize(std::int64_t size);

} // namespace orvo
