#include "activitylog.h"

#include "devicetext.h"

#include <QFile>
#include <QTextStream>

namespace orvo {

QString logFileLine(const QDateTime &when, const QString &text)
{
    // One row, one line: a line break in a row would let its rest pass for an entry of its own.
    return when.toString(QStringLiteral("dd/MM/yyyy  hh:mm:ss.zzz   ")) + visibleText(text);
}

bool isLoggedRow(const QString &text)
{
    return !text.startsWith(QLatin1String("Scanning IP address: "));
}

bool appendLogRow(const QString &path, const QDateTime &when, const QString &text)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Text))
        return false;
    QTextStream stream(&file);
    stream.setCodec("UTF-8");
    stream << logFileLine(when, text) << '\n';
    stream.flush();
    file.close();
    return true;
}

} // namespace orvo
