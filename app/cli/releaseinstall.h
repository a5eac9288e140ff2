#pragma once

// Installing a firmware release into a firmware folder, and going back to the one before.
//
// Only the command line installs releases, so the archive reader (libarchive) stays out of the
// window and the layers below it. A release is unpacked or copied into a new folder beside the
// firmware folder, checked there as `release check` does, and only then swapped in with one
// rename; the folder it replaces is kept as "<folder>.previous" for `release rollback`.

#include "releasecheck.h"

#include <QString>

#include <cstdint>
#include <optional>

namespace orvo::cli {

constexpr std::int64_t kMaxReleaseBytes = 1024LL * 1024 * 1024; ///< all files of one release together
constexpr int kMaxReleaseEntries = 10000;
constexpr int kMaxReleasePath = 1024; ///< characters of one path inside a release

struct InstallOutcome
{
    bool installed = false;
    QString refusal;                    ///< why nothing was installed; empty when installed
    std::optional<ReleaseReport> check; ///< the check of the new release, once it was unpacked
    QString target;                     ///< the firmware folder, absolute, without a trailing '/'
    QString previous;                   ///< where the replaced release now is; empty: there was none
};

/// The folder that keeps the release before the last install: "<target>.previous".
QString previousFolderOf(const QString &target);

/// Installs `source` (a folder, or a .tar, .tar.gz, .tgz or .zip archive) into `target`. Refuses
/// archive entries with an absolute path, "..", a link that leads outside the release, a device,
/// fifo or socket, and releases over the size bounds; refuses a release whose check finds a bad
/// file (or no firmware file at all) unless `force`. Never writes outside the new folder until
/// the check has passed, and then only renames.
InstallOutcome installRelease(const QString &source, const QString &target, bool force);

/// Swaps `target` with its previous folder. `refusal` is set when there is none.
InstallOutcome rollbackRelease(const QString &target);

} // namespace orvo::cli
