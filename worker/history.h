#pragma once

// The permanent history of every board a job visited: "history.jsonl" in the data folder beside
// log.txt, one JSON object per line, appended by both front ends from the jobs' outcome data.
// The log file is for people reading a run; this file answers "what does this board have, since
// when, and who wrote it" long after the run, and can be filtered and exported.

#include "jobcodes.h"
#include "joboutcome.h"

#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QVector>

#include <functional>
#include <optional>

namespace orvo {

/// The format of an entry, in its "v" field; a reader takes what it knows of a newer one.
constexpr int kHistoryFormat = 1;
/// A line longer than this is not an entry of ours (one is under 2 KiB): readers skip it.
constexpr int kHistoryMaxLineBytes = 64 * 1024;

/// "done", "refused", "cancelled" or "aborted".
QString jobEndName(JobEnd end);

/// data folder + "/history.jsonl" (the folder of log.txt); empty when the platform names none.
QString defaultHistoryPath();

/// One entry per board of `record`, stamped with `when` (kept with its offset from UTC) and the
/// front end ("window" or "cli"). Fields nobody found out are left out.
QVector<QJsonObject> historyEntries(const JobRecord &record, const QString &frontEnd, const QDateTime &when);

/// Appends `entries` as whole lines, all in one write under an exclusive lock on the file, then
/// flushes them to the disk. A torn last line left by a crash is closed with a line end first, so
/// the new entries start on lines of their own. Returns an empty text, or why nothing or not all
/// was written.
QString appendHistory(const QString &path, const QVector<QJsonObject> &entries);

/// Appends the boards of a job that has ended, as `frontEnd` at `when`. Returns the warning row to
/// show when that failed (once per job; the job's result stands), else an empty text.
QString recordJobHistory(const QString &path, const JobRecord &job, const QString &frontEnd, const QDateTime &when);

/// What the history command selects.
struct HistoryFilter
{
    QString device; ///< MAC, address or device name (any case); empty: every device
    QString board;  ///< catalogue position or board name (any case); empty: every board
    std::optional<QDateTime> since;
    bool latestOnly = false; ///< each board's latest entry per device
};

/// A date ("2026-12-01", from local midnight) or an ISO 8601 date and time; nothing when neither.
std::optional<QDateTime> parseHistoryDate(const QString &text);

struct HistoryRead
{
    QVector<QJsonObject> entries; ///< selected, oldest first (latestOnly: by device, then position)
    QStringList warnings;         ///< lines skipped, by number; at most a few, then a count
    QString error;                ///< the file could not be read at all
};

/// Reads the file line by line, skipping lines that are too long, torn or not an entry. With a
/// `sink`, each selected entry goes there as it is read (latestOnly: at the end) instead of into
/// `entries`, so that a history of any length is printed in little memory.
HistoryRead readHistory(
    const QString &path, const HistoryFilter &filter, const std::function<void(const QJsonObject &)> &sink = {});

enum class HistoryView {
    Table, ///< for a terminal: one row per entry, every text made visible
    Csv,   ///< RFC 4180 with CR LF; cells a spreadsheet would run as formulas made inert
};
/// The header row of `view`, with its line end.
QString historyHeader(HistoryView view);
/// The row of one entry, with its line end.
QString historyRow(HistoryView view, const QJsonObject &entry);

} // namespace orvo
