#include "history.h"

#include "appidentity.h"
#include "devicetext.h"
#include "worker.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonDocument>
#include <QMap>
#include <QStandardPaths>
#include <QThread>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orvo {

namespace {

/// Another writer holds the lock for one write and one sync; a holder that keeps it longer
/// (a process stopped in a debugger) must not stall an update's end.
constexpr int kLockWaitMs = 5000;
/// A damaged file could name every line; a reader is told of the first few and the count.
constexpr int kMaxWarnings = 10;

// Every field of an entry, in the order a person reads a row: when and by whom, which board,
// what it had and has, what was written, how it went.
const char *const kCsvColumns[] = {
    "time",
    "program",
    "frontEnd",
    "job",
    "jobEnd",
    "deviceType",
    "typeName",
    "deviceName",
    "address",
    "mac",
    "position",
    "board",
    "found",
    "upToDate",
    "versionBefore",
    "bootModeBefore",
    "versionAfter",
    "bootModeAfter",
    "file",
    "sha256",
    "records",
    "downloadMs",
    "attempts",
    "durationMs",
    "result",
    "resultText",
    "resetSent",
};

template <typename T>
void put(QJsonObject &o, const char *key, const std::optional<T> &value)
{
    if (value)
        o[QLatin1String(key)] = *value;
}

QString errnoText()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

bool writeAll(int fd, const QByteArray &data)
{
    const char *p = data.constData();
    qint64 left = data.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, p, static_cast<size_t>(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        left -= n;
    }
    return true;
}

bool lockWithin(int fd, int ms)
{
    QDeadlineTimer deadline(ms);
    for (;;) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0)
            return true;
        if (errno != EWOULDBLOCK && errno != EINTR)
            return false;
        if (deadline.hasExpired())
            return false;
        QThread::usleep(500);
    }
}

bool matchesDevice(const QJsonObject &e, const QString &wanted)
{
    return e.value(QLatin1String("mac")).toString().compare(wanted, Qt::CaseInsensitive) == 0
        || e.value(QLatin1String("address")).toString() == wanted
        || e.value(QLatin1String("deviceName")).toString().compare(wanted, Qt::CaseInsensitive) == 0;
}

bool matchesBoard(const QJsonObject &e, const QString &wanted)
{
    bool isNumber = false;
    const int position = wanted.toInt(&isNumber, 10);
    if (isNumber)
        return e.value(QLatin1String("position")).toInt(-1) == position;
    return e.value(QLatin1String("board")).toString().compare(wanted, Qt::CaseInsensitive) == 0;
}

bool selected(const QJsonObject &e, const HistoryFilter &f)
{
    if (!f.device.isEmpty() && !matchesDevice(e, f.device))
        return false;
    if (!f.board.isEmpty() && !matchesBoard(e, f.board))
        return false;
    if (f.since) {
        const QDateTime when = QDateTime::fromString(e.value(QLatin1String("time")).toString(), Qt::ISODateWithMs);
        if (!when.isValid() || when < *f.since)
            return false;
    }
    return true;
}

QString cellText(const QJsonValue &v)
{
    switch (v.type()) {
    case QJsonValue::Bool:
        return v.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    case QJsonValue::Double:
        return QString::number(v.toDouble(), 'g', 15);
    case QJsonValue::String:
        return v.toString();
    default:
        return QString();
    }
}

QString versionText(const QJsonObject &e, const char *version, const char *bootMode)
{
    const QJsonValue v = e.value(QLatin1String(version));
    if (v.isUndefined())
        return QStringLiteral("-");
    return cellText(v) + (e.value(QLatin1String(bootMode)).toBool() ? QStringLiteral(" boot") : QString());
}

QString resultShort(const QJsonObject &e)
{
    static const char *const names[]
        = { "failed", "updated", "boot mode", "connection", "not found", "pending", "no file", "up to date" };
    const int result = e.value(QLatin1String("result")).toInt(-1);
    if (result >= 0 && result < 8)
        return QLatin1String(names[result]);
    if (e.contains(QLatin1String("resetSent")))
        return e.value(QLatin1String("resetSent")).toBool() ? QStringLiteral("reset")
                                                            : QStringLiteral("reset not sent");
    if (e.contains(QLatin1String("upToDate")))
        return e.value(QLatin1String("upToDate")).toBool() ? QStringLiteral("up to date")
                                                           : QStringLiteral("out of date");
    if (e.contains(QLatin1String("found")))
        return e.value(QLatin1String("found")).toBool() ? QStringLiteral("found") : QStringLiteral("not found");
    return QStringLiteral("-");
}

} // namespace

QString jobEndName(JobEnd end)
{
    switch (end) {
    case JobEnd::Refused:
        return QStringLiteral("refused");
    case JobEnd::Cancelled:
        return QStringLiteral("cancelled");
    case JobEnd::Aborted:
        return QStringLiteral("aborted");
    case JobEnd::Done:
        break;
    }
    return QStringLiteral("done");
}

QString defaultHistoryPath()
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    return folder.isEmpty() ? QString() : QDir(folder).absolutePath() + QStringLiteral("/history.jsonl");
}

QVector<QJsonObject> historyEntries(const JobRecord &record, const QString &frontEnd, const QDateTime &when)
{
    // Kept with the writer's offset, so that entries of two time zones still sort and compare.
    const QString time = when.toOffsetFromUtc(when.offsetFromUtc()).toString(Qt::ISODateWithMs);
    const JobOutcome end = record.ending();
    QVector<QJsonObject> entries;
    for (const BoardOutcome &b : record.boards) {
        QJsonObject e;
        e[QLatin1String("v")] = kHistoryFormat;
        e[QLatin1String("time")] = time;
        e[QLatin1String("program")] = kApplicationVersion;
        e[QLatin1String("frontEnd")] = frontEnd;
        e[QLatin1String("job")] = jobModeName(b.mode);
        e[QLatin1String("jobEnd")] = jobEndName(end.end);
        if (end.device) {
            e[QLatin1String("deviceType")] = end.deviceType;
            e[QLatin1String("typeName")] = deviceTypeName(end.deviceType);
            e[QLatin1String("deviceName")] = end.device->name();
            e[QLatin1String("address")] = ipText(*end.device);
            e[QLatin1String("mac")] = macText(*end.device);
            e[QLatin1String("board")] = panelName(end.deviceType, b.position);
        }
        e[QLatin1String("position")] = b.position;
        put(e, "found", b.found);
        put(e, "upToDate", b.upToDate);
        put(e, "versionBefore", b.versionBefore);
        put(e, "bootModeBefore", b.bootModeBefore);
        put(e, "versionAfter", b.versionAfter);
        put(e, "bootModeAfter", b.bootModeAfter);
        if (!b.firmwareSha256.isEmpty()) {
            e[QLatin1String("file")] = b.firmwareFile;
            e[QLatin1String("sha256")] = QString::fromLatin1(b.firmwareSha256);
        }
        if (b.records > 0) {
            e[QLatin1String("records")] = b.records;
            e[QLatin1String("downloadMs")] = static_cast<double>(b.downloadMs);
        }
        put(e, "attempts", b.attempts);
        if (b.durationMs)
            e[QLatin1String("durationMs")] = static_cast<double>(*b.durationMs);
        if (b.result) {
            e[QLatin1String("result")] = *b.result;
            e[QLatin1String("resultText")] = updateResultMessage(*b.result).trimmed();
        }
        put(e, "resetSent", b.resetSent);
        entries.append(e);
    }
    return entries;
}

QString appendHistory(const QString &path, const QVector<QJsonObject> &entries)
{
    if (entries.isEmpty())
        return QString();
    if (path.isEmpty())
        return QStringLiteral("no data folder");
    QByteArray data;
    for (const QJsonObject &e : entries)
        data += QJsonDocument(e).toJson(QJsonDocument::Compact) + '\n';
    QDir().mkpath(QFileInfo(path).absolutePath());
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return errnoText();
    QString error;
    if (!lockWithin(fd, kLockWaitMs)) {
        error = QStringLiteral("another program holds the file's lock");
    } else {
        // A crash during an earlier write may have left a line without its end: close it, so
        // that it stays one bad line and the new entries are read as they were written.
        struct stat st = {};
        char last = '\n';
        if (::fstat(fd, &st) == 0 && st.st_size > 0 && ::pread(fd, &last, 1, st.st_size - 1) == 1 && last != '\n')
            data.prepend('\n');
        if (!writeAll(fd, data) || ::fsync(fd) != 0)
            error = errnoText();
    }
    ::close(fd); // also releases the lock
    return error;
}

QString recordJobHistory(const QString &path, const JobRecord &job, const QString &frontEnd, const QDateTime &when)
{
    const QString error = appendHistory(path, historyEntries(job, frontEnd, when));
    if (error.isEmpty())
        return QString();
    return QStringLiteral("Warning!  The board history could not be written")
        + (path.isEmpty() ? QString() : QStringLiteral(" to ") + path) + QStringLiteral(" (") + error
        + QStringLiteral(")");
}

std::optional<QDateTime> parseHistoryDate(const QString &text)
{
    // QDate takes the date of a date and time as well, and would drop the time.
    const QDate date = QDate::fromString(text, Qt::ISODate);
    if (date.isValid() && text.size() == 10)
        return QDateTime(date, QTime(0, 0));
    const QDateTime when = QDateTime::fromString(text, Qt::ISODateWithMs);
    if (when.isValid())
        return when;
    return std::nullopt;
}

HistoryRead readHistory(
    const QString &path, const HistoryFilter &filter, const std::function<void(const QJsonObject &)> &sink)
{
    HistoryRead read;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        read.error = file.errorString();
        return read;
    }
    int skipped = 0;
    const auto warn = [&read, &skipped](qint64 line, const QString &why) {
        if (++skipped <= kMaxWarnings)
            read.warnings << QStringLiteral("line %1: %2, skipped").arg(line).arg(why);
    };
    // Latest entry per device and board, devices in the order they first appear.
    QStringList devices;
    QHash<QString, QMap<int, QJsonObject>> latest;

    QByteArray buffer(kHistoryMaxLineBytes + 2, '\0');
    qint64 lineNumber = 0;
    for (;;) {
        qint64 n = file.readLine(buffer.data(), buffer.size());
        if (n <= 0)
            break;
        ++lineNumber;
        if (buffer.at(n - 1) != '\n') {
            if (n < kHistoryMaxLineBytes + 1) {
                warn(lineNumber, QStringLiteral("incomplete (a write that did not finish)"));
                break; // only the last line can lack its end
            }
            while (n > 0 && buffer.at(n - 1) != '\n')
                n = file.readLine(buffer.data(), buffer.size());
            warn(lineNumber, QStringLiteral("longer than %1 bytes").arg(kHistoryMaxLineBytes));
            continue;
        }
        if (n == 1)
            continue; // an empty line, as an editor may leave
        QJsonParseError error {};
        const QJsonDocument doc
            = QJsonDocument::fromJson(QByteArray::fromRawData(buffer.constData(), int(n - 1)), &error);
        const QJsonObject e = doc.object();
        if (error.error != QJsonParseError::NoError || !doc.isObject() || e.value(QLatin1String("v")).toInt() < 1
            || !e.value(QLatin1String("position")).isDouble()) {
            warn(lineNumber, QStringLiteral("not a history entry"));
            continue;
        }
        if (!selected(e, filter))
            continue;
        if (!filter.latestOnly) {
            if (sink)
                sink(e);
            else
                read.entries.append(e);
            continue;
        }
        QString device = e.value(QLatin1String("mac")).toString();
        if (device.isEmpty())
            device = e.value(QLatin1String("address")).toString();
        auto it = latest.find(device);
        if (it == latest.end()) {
            devices << device;
            it = latest.insert(device, {});
        }
        it->insert(e.value(QLatin1String("position")).toInt(), e);
    }
    if (skipped > kMaxWarnings)
        read.warnings << QStringLiteral("%1 more lines skipped").arg(skipped - kMaxWarnings);
    for (const QString &device : qAsConst(devices)) {
        for (const QJsonObject &e : latest.value(device)) {
            if (sink)
                sink(e);
            else
                read.entries.append(e);
        }
    }
    return read;
}

QString historyHeader(HistoryView view)
{
    if (view == HistoryView::Csv) {
        QStringList header;
        for (const char *column : kCsvColumns)
            header << QLatin1String(column);
        return header.join(QLatin1Char(',')) + QStringLiteral("\r\n");
    }
    return QStringLiteral("%1  %2 %3 %4 %5 %6 %7 %8 %9\n")
        .arg(QStringLiteral("Time"), -19)
        .arg(QStringLiteral("Device"), -21)
        .arg(QStringLiteral("Address"), -15)
        .arg(QStringLiteral("Pos"), 3)
        .arg(QStringLiteral("Board"), -26)
        .arg(QStringLiteral("Before"), 7)
        .arg(QStringLiteral("After"), 7)
        .arg(QStringLiteral("Result"), -11)
        .arg(QStringLiteral("Job"));
}

QString historyRow(HistoryView view, const QJsonObject &e)
{
    if (view == HistoryView::Csv) {
        QStringList cells;
        for (const char *column : kCsvColumns) {
            const QJsonValue v = e.value(QLatin1String(column));
            if (!v.isString()) {
                cells << cellText(v);
                continue;
            }
            // Text from a device or an edited file: no control character (tab and CR among them)
            // reaches the terminal, and a cell a spreadsheet would take for a formula starts with
            // a quote mark instead.
            QString t = visibleText(v.toString());
            if (!t.isEmpty() && QStringLiteral("=+-@").contains(t.at(0)))
                t.prepend(QLatin1Char('\''));
            cells << QLatin1Char('"') + t.replace(QLatin1Char('"'), QStringLiteral("\"\"")) + QLatin1Char('"');
        }
        return cells.join(QLatin1Char(',')) + QStringLiteral("\r\n");
    }
    const auto text = [&e](const char *key) { return visibleText(cellText(e.value(QLatin1String(key)))); };
    return QStringLiteral("%1  %2 %3 %4 %5 %6 %7 %8 %9\n")
        .arg(text("time").left(19).replace(QLatin1Char('T'), QLatin1Char(' ')), -19)
        .arg(text("deviceName"), -21)
        .arg(text("address"), -15)
        .arg(text("position"), 3)
        .arg(text("board"), -26)
        .arg(visibleText(versionText(e, "versionBefore", "bootModeBefore")), 7)
        .arg(visibleText(versionText(e, "versionAfter", "bootModeAfter")), 7)
        .arg(resultShort(e), -11)
        .arg(text("job") + QStringLiteral(" (") + text("frontEnd") + QLatin1Char(')'));
}

} // namespace orvo
