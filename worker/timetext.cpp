#include "worker.h"

namespace orvo {

namespace {

// "[h hrs, m mins, s secs]", dropping the leading units that are zero; empty under a second.
QString bracketedTime(const QString &lead, const DurationParts &d)
{
    QString text;
    if (d.hours != 0)
        text = QString::number(d.hours) + QStringLiteral(" hrs, ");
    if (d.hours != 0 || d.minutes != 0)
        text += QString::number(d.minutes) + QStringLiteral(" mins, ");
    if (text.isEmpty() && d.seconds == 0)
        return QString();
    return lead + QStringLiteral("[") + text + QString::number(d.seconds) + QStringLiteral(" secs]");
}

} // namespace

DurationParts splitDuration(qint64 ms)
{
    DurationParts parts;
    if (ms < 0)
        ms = 0; // a monotonic clock never goes back, but a negative span must not print "-1 secs"
    parts.hours = ms / 3600000;
    parts.minutes = (ms / 60000) % 60;
    parts.seconds = (ms / 1000) % 60;
    parts.milliseconds = ms % 1000;
    return parts;
}

QString panelTimeText(qint64 ms)
{
    // A board update that ran an hour or more names the hours as well: the minutes of the hour
    // alone would show "2 mins" for an update that took an hour and two minutes.
    return bracketedTime(QStringLiteral("   "), splitDuration(ms));
}

QString totalTimeText(qint64 ms)
{
    return bracketedTime(QStringLiteral("     "), splitDuration(ms));
}

std::optional<DownloadPace> downloadPace(const DownloadProgress &d)
{
    if (d.elapsedMs <= 0 || d.bytesDone <= 0)
        return std::nullopt;
    DownloadPace pace;
    pace.recordsPerSecond = qRound(d.records * 1000.0 / static_cast<double>(d.elapsedMs));
    pace.secondsLeft = (d.elapsedMs * (d.bytesTotal - d.bytesDone) / d.bytesDone + 999) / 1000;
    return pace;
}

QString downloadPaceText(const DownloadPace &pace, const QString &separator)
{
    return QStringLiteral("%1 rec/s%2%3:%4 left")
        .arg(pace.recordsPerSecond)
        .arg(separator)
        .arg(pace.secondsLeft / 60)
        .arg(pace.secondsLeft % 60, 2, 10, QLatin1Char('0'));
}

} // namespace orvo
