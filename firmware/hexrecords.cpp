#include "hexrecords.h"

#include "bytes.h"
#include "catalogue.h"

#include <QDebug>

#include <algorithm>

namespace orvo {

namespace {

constexpr std::size_t kHexHeaderChars = 8; // byte count, address (2 bytes), record type
constexpr std::size_t kPaddedBytes = 16;   // records below this are padded to a multiple of 4
constexpr std::uint8_t kRecordData = 0;
constexpr std::uint8_t kRecordExtendedLinear = 4;

enum : std::size_t {
    RecChecksum = 8,
    RecLength = 9,
    RecAddrLow = 10,
    RecAddrHigh = 11,
    RecAddrUpperLow = 12,
    RecAddrUpperHigh = 13,
    RecType = 14,
};

} // namespace

std::uint8_t hexValue(int count, const char *text)
{
    // Unsigned arithmetic: only the low 8 bits matter, and wrap-around is harmless.
    std::uint32_t sum = 0;
    std::uint32_t weight = 1;
    for (int i = count - 1; i >= 0; --i) {
        const char c = text[i];
        std::uint32_t digit = 0;
        if (c >= '0' && c <= '9')
            digit = static_cast<std::uint32_t>(c - '0');
        else if (c >= 'A' && c <= 'F')
            digit = static_cast<std::uint32_t>(c - 'A' + 10);
        else if (c >= 'a' && c <= 'f')
            digit = static_cast<std::uint32_t>(c - 'a' + 10);
        sum += digit * weight;
        weight *= 16;
    }
    return static_cast<std::uint8_t>(sum & 0xFF);
}

std::uint32_t chooseDMaxAdr(std::uint8_t picType, bool fpgaBoard)
{
    std::uint32_t dMaxAdr = kFlashEnd2048;
    if (picType < kPicUnknown && !fpgaBoard && picPart(picType).contains(QLatin1String("PIC32MZ1024")))
        dMaxAdr = kFlashEnd1024;
    qDebug().noquote() << QStringLiteral("DMaxAdr: ") + QString::number(dMaxAdr, 16);
    return dMaxAdr;
}

RecordProducer::RecordProducer(const QByteArray &content, bool fpgaBoard, std::uint32_t dMaxAdr)
    : m_content(content), m_data(m_content.constData()), m_size(static_cast<std::size_t>(m_content.size())),
      m_fpga(fpgaBoard), m_dMaxAdr(dMaxAdr)
{ }

void RecordProducer::begin(PanelBody &body)
{
    body[RecAddrUpperLow] = 0;
    body[RecAddrUpperHigh] = 0;
}

RecordStep RecordProducer::next(PanelBody &body)
{
    return m_fpga ? nextChunk(body) : nextHex(body);
}

RecordStep RecordProducer::nextHex(PanelBody &body)
{
    std::size_t pos = m_pos;
    while (pos < m_size && m_data[pos] != ':')
        ++pos;
    ++pos; // past the ':'
    if (pos >= m_size) {
        m_pos = m_size;
        return RecordStep::Finished;
    }
    // A record whose fields run past the content has no meaning; it is never half-read.
    if (m_size - pos < kHexHeaderChars) {
        m_pos = m_size;
        return RecordStep::Invalid;
    }
    const char *fields = m_data + pos;
    const std::uint8_t count = hexValue(2, fields);
    if (count > kMaxDataBytes) {
        m_pos = pos + kHexHeaderChars;
        return RecordStep::Invalid;
    }
    if ((m_size - pos - kHexHeaderChars) / 2 < count) {
        m_pos = m_size;
        return RecordStep::Invalid;
    }

    body[RecLength] = count;
    body[RecAddrHigh] = hexValue(2, fields + 2);
    body[RecAddrLow] = hexValue(2, fields + 4);
    body[RecType] = hexValue(2, fields + 6);
    pos += kHexHeaderChars;

    std::fill(body.begin() + kDataOffset, body.begin() + kDataOffset + kPaddedBytes, std::uint8_t(0));
    for (std::size_t i = 0; i < count; ++i)
        body[kDataOffset + i] = hexValue(2, m_data + pos + 2 * i);
    pos += 2 * std::size_t(count);
    m_pos = pos;

    std::size_t length = count;
    if (length % 4 != 0 && length < kPaddedBytes)
        length = (length + 3) & ~std::size_t(3);
    body[RecLength] = static_cast<std::uint8_t>(length);

    const std::uint8_t type = body[RecType];
    if (type == kRecordExtendedLinear) {
        body[RecAddrUpperHigh] = body[kDataOffset];
        body[RecAddrUpperLow] = body[kDataOffset + 1];
    }

    std::uint32_t sum = 0;
    for (std::size_t i = RecLength; i < kDataOffset + length; ++i)
        sum += body[i];
    body[RecChecksum] = static_cast<std::uint8_t>(sum & 0xFF);

    const std::uint32_t address = getU32le(body.data() + RecAddrLow);
    if (type == kRecordData && address >= kFlashStart && address < m_dMaxAdr)
        return RecordStep::Send;
    return RecordStep::Skip;
}

RecordStep RecordProducer::nextChunk(PanelBody &body)
{
    if (m_pos >= m_size)
        return RecordStep::Finished;
    const std::size_t n = std::min(kMaxDataBytes, m_size - m_pos);
    std::uint32_t sum = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const auto byte = static_cast<std::uint8_t>(m_data[m_pos + i]);
        body[kDataOffset + i] = byte;
        sum += byte;
    }
    body[RecLength] = static_cast<std::uint8_t>(n);
    body[RecChecksum] = static_cast<std::uint8_t>(sum & 0xFF);
    m_pos += n;
    return RecordStep::Send;
}

} // namespace orvo
