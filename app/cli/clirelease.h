#pragma once

// What the release commands of orvo-updater-cli print and report.

#include "releasecheck.h"

#include <QJsonObject>
#include <QString>

namespace orvo::cli {

/// The check as a table, one row per file (device type, positions, file, status, the version the
/// catalogue expects, the first 12 hex digits of its SHA-256), then one line per file that is not
/// sound with its reason, then the summary line. Every line ends in "\n".
QString releaseTable(const ReleaseReport &report);

/// "Summary: 116 sound, 1 bad, 1 missing of 118 files; manifest SHA256SUMS: 117 entries".
QString releaseSummary(const ReleaseReport &report);

/// The check for the JSON report: "folder", "manifest", "files" (file, positions, status,
/// reason, expectedVersion, sha256, size, manifest) and the counts.
QJsonObject releaseJson(const ReleaseReport &report);

/// Exit status of a check: 0 all there and sound, 6 only missing files, 1 otherwise.
int releaseCheckStatus(const ReleaseReport &report);

} // namespace orvo::cli
