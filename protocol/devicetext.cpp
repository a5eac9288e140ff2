#include "devicetext.h"

#include <QVector>

#include <array>

namespace orvo {

namespace {

// Windows-1252 bytes 0x80..0x9F; the undefined ones keep their own value (a C1 control).
constexpr std::array<char16_t, 32> kHighControls = {
    0x20AC,
    0x0081,
    0x201A,
    0x0192,
    0x201E,
    0x2026,
    0x2020,
    0x2021,
    0x02C6,
    0x2030,
    0x0160,
    0x2039,
    0x0152,
    0x008D,
    0x017D,
    0x008F,
    0x0090,
    0x2018,
    0x2019,
    0x201C,
    0x201D,
    0x2022,
    0x2013,
    0x2014,
    0x02DC,
    0x2122,
    0x0161,
    0x203A,
    0x0153,
    0x009D,
    0x017E,
    0x0178,
};

bool isControl(uint c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

QString escape(uint c)
{
    return QStringLiteral("\\x") + QString::number(c, 16).rightJustified(2, QLatin1Char('0')).toUpper();
}

// The byte of `c` in Windows-1252, or -1 when the code page has none.
int windows1252Byte(uint c)
{
    if (c <= 0xFF && !(c >= 0x80 && c <= 0x9F))
        return static_cast<int>(c);
    for (std::size_t i = 0; i < kHighControls.size(); ++i) {
        if (kHighControls[i] == c)
            return static_cast<int>(0x80 + i);
    }
    return -1;
}

} // namespace

QString decodeDeviceText(const QByteArray &bytes)
{
    QString text;
    text.reserve(bytes.size());
    for (const char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        text += b >= 0x80 && b <= 0x9F ? QChar(kHighControls[b - 0x80]) : QChar(b);
    }
    return text;
}

QString visibleText(const QString &text)
{
    QString shown;
    shown.reserve(text.size());
    for (const QChar c : text) {
        if (isControl(c.unicode()))
            shown += escape(c.unicode());
        else
            shown += c;
    }
    return shown;
}

DeviceNameBytes encodeDeviceName(const QString &name)
{
    const QVector<uint> characters = name.normalized(QString::NormalizationForm_C).toUcs4();
    if (characters.size() > kDeviceNameMaxChars)
        return { {}, QStringLiteral("Name cannot be more than %1 characters").arg(kDeviceNameMaxChars) };
    QByteArray bytes;
    for (const uint c : characters) {
        const QString code
            = QStringLiteral("U+") + QString::number(c, 16).rightJustified(4, QLatin1Char('0')).toUpper();
        if (isControl(c))
            return { {}, QStringLiteral("Name cannot contain the control character %1 (%2)").arg(escape(c), code) };
        const int byte = windows1252Byte(c);
        if (byte < 0)
            return { {},
                QStringLiteral("Name cannot contain \"%1\" (%2): devices keep names in Windows-1252")
                    .arg(QString::fromUcs4(&c, 1), code) };
        bytes += static_cast<char>(byte);
    }
    return { bytes, QString() };
}

} // namespace orvo
