#include "hexwriter.h"

namespace orvo {

QByteArray hexRecordLine(std::uint16_t address, std::uint8_t type, const QByteArray &data)
{
    const QByteArray payload = data.left(kMaxHexRecordData);
    QByteArray bytes;
    bytes.reserve(payload.size() + 5);
    bytes.append(static_cast<char>(payload.size()));
    bytes.append(static_cast<char>(address >> 8));
    bytes.append(static_cast<char>(address & 0xFF));
    bytes.append(static_cast<char>(type));
    bytes.append(payload);
    std::uint8_t sum = 0;
    for (const char c : bytes)
        sum = static_cast<std::uint8_t>(sum + static_cast<std::uint8_t>(c));
    bytes.append(static_cast<char>(static_cast<std::uint8_t>(0x100 - sum)));
    return QByteArray(1, ':').append(bytes.toHex().toUpper());
}

void HexWriter::addData(std::uint32_t address, const QByteArray &data)
{
    const auto upper = static_cast<std::uint16_t>(address >> 16);
    if (m_upper != upper) {
        m_upper = upper;
        const char half[] = { static_cast<char>(upper >> 8), static_cast<char>(upper & 0xFF) };
        addLine(hexRecordLine(0, 4, QByteArray(half, 2)));
    }
    addLine(hexRecordLine(static_cast<std::uint16_t>(address & 0xFFFF), 0, data));
}

QByteArray HexWriter::take()
{
    QByteArray text;
    text.swap(m_text);
    return text;
}

QByteArray HexWriter::finish()
{
    addLine(hexRecordLine(0, 1, QByteArray()));
    return take();
}

void HexWriter::addLine(const QByteArray &line)
{
    m_text.append(line).append(m_lineEnd);
}

} // namespace orvo
