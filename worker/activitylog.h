#pragma once

// The activity log file that both front ends append to: one line per activity row, opened and
// closed for every row so that the file is complete whenever the program stops.

#include <QDateTime>
#include <QString>

namespace orvo {

/// One line of the log file: "dd/MM/yyyy  hh:mm:ss.zzz   " + text, its control characters made
/// visible (visibleText), so that no row can start a second line.
QString logFileLine(const QDateTime &when, const QString &text);

/// The scan's running address line ("Scanning IP address: 127.0.0.2 ...", each one replacing the
/// last in the list) only shows where the scan is; it stays out of the log file, which keeps what
/// the scan found.
bool isLoggedRow(const QString &text);

/// Appends `text`, stamped with `when`, to the file at `path` (created when missing), then
/// closes it. False when the file cannot be opened; nothing is written then.
bool appendLogRow(const QString &path, const QDateTime &when, const QString &text);

} // namespace orvo
