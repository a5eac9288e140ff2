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

    /// The activity line for a refused file:
    /// "*** Error: Firmware file is damaged (line 12: checksum mismatch)!".
    QString errorLine() const;
};

/// Checks a whole loaded firmware file. HEX (`fpgaBoard` false): every non-empty line is a
/// record that starts with ':', has hexadecimal digits only, a byte count that matches the
/// line, a correct record checksum and at most 49 data bytes; a type-04 record carries two
/// data bytes; an end-of-file record is present. CR LF and LF line ends are both accepted.
/// FPGA image: not empty. Either: no larger than kMaxFirmwareFileSize.
ImageCheck checkFirmwareImage(const QByteArray &content, bool fpgaBoard);

/// The same check for a size alone, before reading: a file above kMaxFirmwareFileSize fails.
ImageCheck checkFirmwareSize(std::int64_t size);

} // namespace orvo
