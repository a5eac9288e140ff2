#include "ipv4entry.h"

#include "workrequest.h"

#include <QStringList>

namespace orvo {

std::optional<Ipv4Entry> parseIpv4Entry(const QString &text)
{
    const QStringList fields = text.trimmed().split(QLatin1Char('.'));
    if (fields.size() != 4)
        return std::nullopt;
    Ipv4Entry entry;
    QStringList numbers;
    for (const QString &field : fields) {
        if (field.isEmpty() || field.size() > 3)
            return std::nullopt;
        for (const QChar c : field) {
            if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                return std::nullopt;
        }
        const uint value = field.toUInt();
        if (value > 255)
            return std::nullopt;
        entry.value = (entry.value << 8) | value;
        numbers << QString::number(value);
    }
    entry.address = numbers.join(QLatin1Char('.'));
    return entry;
}

bool isUnusedEntry(const QString &entry)
{
    return entry == kUnusedAddress || entry == QLatin1String("255.255.255.255");
}

bool namesOneDevice(const Ipv4Entry &entry)
{
    const quint32 first = entry.value >> 24;
    return first != 0 && first < 224;
}

} // namespace orvo
