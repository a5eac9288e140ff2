#pragma once

// Writes Intel HEX text: the demonstration firmware, the test images and the benchmark's images
// all come from here, so that they agree with each other and with what hexrecords reads.

#include <QByteArray>

#include <cstdint>

namespace orvo {

constexpr int kMaxHexRecordData = 255; ///< what the record's one-byte count can say

/// One record line without its line end: ':' + count, address, type, data and checksum (the
/// two's complement of the byte sum), upper-case hex. Data beyond kMaxHexRecordData is left out.
QByteArray hexRecordLine(std::uint16_t address, std::uint8_t type, const QByteArray &data);

/// Builds a HEX file record by record: data records at full 32-bit addresses, each preceded by
/// an extended linear address record when its upper 16 bits differ from the previous one's.
class HexWriter
{
public:
    explicit HexWriter(const QByteArray &lineEnd = QByteArrayLiteral("\n")) : m_lineEnd(lineEnd) { }

    /// Appends a data record (at most kMaxHexRecordData bytes) at `address`.
    void addData(std::uint32_t address, const QByteArray &data);

    /// Hands over the text written since the last take(): a large image goes to its file in
    /// pieces instead of being held whole.
    QByteArray take();

    /// Appends the end-of-file record and hands over the rest of the text.
    QByteArray finish();

private:
    void addLine(const QByteArray &line);

    QByteArray m_lineEnd;
    QByteArray m_text;
    std::int32_t m_upper = -1; ///< upper address half in force; -1 before the first record
};

} // namespace orvo
