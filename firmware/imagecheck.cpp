#include "imagecheck.h"

#include "hexrecords.h"
#include "packet.h"

#include <algorithm>
#include <vector>

namespace orvo {

namespace {

constexpr std::uint8_t kRecordData = 0;
constexpr std::uint8_t kRecordEndOfFile = 1;
constexpr std::uint8_t kRecordExtendedLinear = 4;
constexpr int kRecordOverheadBytes = 5; // byte count, address (2), type, checksum

ImageCheck failure(int line, const char *fault)
{
    ImageCheck c;
    c.ok = false;
    c.line = line;
    c.fault = QString::fromLatin1(fault);
    return c;
}

QString hexAddress(std::uint32_t a)
{
    return QString::number(a, 16).toUpper();
}

bool isHexDigit(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

// One record line without its line end; an empty line is allowed and ignored.
ImageCheck checkRecord(const char *text, int n, int line, bool &sawEndOfFile)
{
    if (n == 0)
        return {};
    if (text[0] != ':')
        return failure(line, "record does not start with ':'");
    for (int i = 1; i < n; ++i) {
        if (!isHexDigit(text[i]))
            return failure(line, "character that is no hexadecimal digit");
    }
    const int digits = n - 1;
    if (digits < 2 * kRecordOverheadBytes)
        return failure(line, "record too short");
    const int count = hexValue(2, text + 1);
    if (digits != 2 * (kRecordOverheadBytes + count))
        return failure(line, "byte count does not match the line");
    if (count > static_cast<int>(kMaxDataBytes))
        return failure(line, "more than 49 data bytes");
    unsigned sum = 0;
    for (int i = 1; i < n; i += 2)
        sum += hexValue(2, text + i);
    if ((sum & 0xFF) != 0)
        return failure(line, "checksum mismatch");
    const std::uint8_t type = hexValue(2, text + 7);
    if (type == kRecordExtendedLinear && count != 2)
        return failure(line, "extended address record without two data bytes");
    if (type == kRecordEndOfFile)
        sawEndOfFile = true;
    return {};
}

} // namespace

QString ImageCheck::errorLine() const
{
    const QString where = line > 0 ? QStringLiteral("line %1: ").arg(line) : QString();
    const QString what = unfit ? QStringLiteral("*** Error: Firmware file cannot be written to this board (")
                               : QStringLiteral("*** Error: Firmware file is damaged (");
    return what + where + fault + QStringLiteral(")!");
}

ImageCheck checkFirmwareSize(std::int64_t size)
{
    if (size > kMaxFirmwareFileSize)
        return failure(0, "file larger than 64 MiB");
    return {};
}

ImageCheck checkFirmwareImage(const QByteArray &content, bool fpgaBoard)
{
    const ImageCheck size = checkFirmwareSize(content.size());
    if (!size.ok)
        return size;
    if (content.isEmpty())
        return failure(0, "empty file");
    if (fpgaBoard)
        return {};

    const char *data = content.constData();
    const int n = content.size();
    bool sawEndOfFile = false;
    int line = 1;
    int start = 0;
    while (start < n) {
        int end = start;
        while (end < n && data[end] != '\n')
            ++end;
        int len = end - start;
        if (len > 0 && data[start + len - 1] == '\r')
            --len; // CR LF
        const ImageCheck c = checkRecord(data + start, len, line, sawEndOfFile);
        if (!c.ok)
            return c;
        start = end + 1;
        ++line;
    }
    if (!sawEndOfFile)
        return failure(0, "no end-of-file record");
    return {};
}

ImageCheck checkMemoryMap(const QByteArray &content, std::uint32_t dMaxAdr)
{
    struct Span
    {
        std::uint32_t start;
        std::uint32_t end; // exclusive; inside the window, far from wrapping
        int line;
    };
    std::vector<Span> spans;
    const char *data = content.constData();
    const int n = content.size();
    std::uint32_t upper = 0;
    int line = 1;
    for (int start = 0; start < n; ++line) {
        int end = start;
        while (end < n && data[end] != '\n')
            ++end;
        // checkFirmwareImage has seen every line: ':' and at least the five fixed bytes.
        if (end - start > 2 * kRecordOverheadBytes && data[start] == ':') {
            const char *text = data + start + 1;
            const std::uint8_t count = hexValue(2, text);
            const std::uint8_t type = hexValue(2, text + 6);
            const std::uint32_t address = upper | (std::uint32_t(hexValue(2, text + 2)) << 8) | hexValue(2, text + 4);
            if (type == kRecordExtendedLinear)
                upper = (std::uint32_t(hexValue(2, text + 8)) << 24) | (std::uint32_t(hexValue(2, text + 10)) << 16);
            else if (type == kRecordData && count > 0 && address >= kFlashStart && address < dMaxAdr)
                spans.push_back({ address, address + count, line });
        }
        start = end + 1;
    }
    if (spans.empty()) {
        ImageCheck c = failure(0, "");
        c.fault = QStringLiteral("no data record inside its program flash 0x%1-0x%2")
                      .arg(hexAddress(kFlashStart), hexAddress(dMaxAdr - 1));
        c.unfit = true;
        return c;
    }
    // Real images are written in ascending order; sorting finds the overlaps of any order.
    std::stable_sort(spans.begin(), spans.end(), [](const Span &a, const Span &b) { return a.start < b.start; });
    for (std::size_t i = 1; i < spans.size(); ++i) {
        const Span &before = spans[i - 1];
        const Span &after = spans[i];
        if (after.start < before.end) {
            const Span &later = before.line > after.line ? before : after;
            const Span &earlier = before.line > after.line ? after : before;
            ImageCheck c = failure(later.line, "");
            c.fault = QStringLiteral("record overlaps the one on line %1 at 0x%2")
                          .arg(earlier.line)
                          .arg(hexAddress(after.start));
            c.unfit = true;
            return c;
        }
    }
    return {};
}

} // namespace orvo
