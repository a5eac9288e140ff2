#pragma once

#include "packet.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>

namespace orvo {

constexpr std::uint32_t kFlashStart = 0x1D000000;   ///< first program-flash address of every part
constexpr std::uint32_t kFlashEnd1024 = 0x1D100000; ///< end of the window of a 1 MB part
constexpr std::uint32_t kFlashEnd2048 = 0x1D200000; ///< end of the window of a 2 MB or unknown part

/// Value of `count` hexadecimal characters at `text`, low 8 bits. A character that is no hex
/// digit adds nothing but keeps its place in the weighting. Reads exactly `count` characters.
std::uint8_t hexValue(int count, const char *text);

/// End (exclusive) of the program-flash window: 0x1D100000 for a known PIC32MZ1024 part on a
/// HEX board, else 0x1D200000. Writes the debug line "DMaxAdr: " + lower-case hex.
std::uint32_t chooseDMaxAdr(std::uint8_t picType, bool fpgaBoard);

/// What producing one more record gave.
enum class RecordStep {
    Finished, ///< the content is exhausted; the body is untouched
    Send,     ///< the body holds a record to send
    Skip,     ///< a record was read but is not sent (other type, outside the window)
    Invalid,  ///< a record runs past the content or carries more than 49 data bytes; stop
};

/// Turns a loaded firmware file into DownloadRecords (body bytes 8..63), one per call, straight
/// from the content into the caller's body: no image is built in memory.
///
/// HEX records are padded to a multiple of 4 below 16 bytes, take their upper address bits from
/// the last type-04 record (body bytes 12, 13) and are sent only when they are data records that
/// start inside [0x1D000000, dMaxAdr). FPGA images are cut into 49-byte chunks, all sent.
/// Never reads past the content, never writes past the body.
class RecordProducer
{
public:
    /// `content` is shared, not copied.
    RecordProducer(const QByteArray &content, bool fpgaBoard, std::uint32_t dMaxAdr);

    /// Sets the upper address bits (body bytes 12, 13) to 0, as before the first record.
    static void begin(PanelBody &body);

    /// Fills `body` with the next record and advances the position.
    RecordStep next(PanelBody &body);

    /// Bytes of the content consumed so far, 0..length().
    std::size_t position() const { return m_pos; }
    /// Length of the content in bytes.
    std::size_t length() const { return m_size; }

private:
    RecordStep nextHex(PanelBody &body);
    RecordStep nextChunk(PanelBody &body);

    QByteArray m_content;
    const char *m_data;
    std::size_t m_size;
    std::size_t m_pos = 0;
    bool m_fpga;
    std::uint32_t m_dMaxAdr;
};

} // namespace orvo
