#pragma once

// The check of a whole release folder before anyone updates from it: for every catalogue file
// (and every processor variant that the folder or its manifest holds) whether it is there, reads
// completely, fits its board and matches the manifest.

#include "manifest.h"

#include <QByteArray>
#include <QString>
#include <QVector>

#include <cstdint>

namespace orvo {

/// A catalogue position that takes a file.
struct CataloguePosition
{
    int deviceType = 0;
    int position = 0;
};

enum class ReleaseFileStatus {
    Sound,   ///< present, complete, fits its board, vouched for by the manifest (when there is one)
    Missing, ///< not there (or not a regular file)
    Damaged, ///< cannot be read completely, or not a well-formed image
    Unfit,   ///< well-formed, but would leave its board without a working image
    Refused, ///< the manifest does not vouch for it
};

struct ReleaseFile
{
    QString file;                         ///< relative to the folder
    QVector<CataloguePosition> positions; ///< all of one device type
    int picType = -1;                     ///< the processor variant of a variant file; -1 the catalogue's file
    int expectedVersion = 0;              ///< the version this program's catalogue expects on its boards
    ReleaseFileStatus status = ReleaseFileStatus::Missing;
    QString reason;    ///< why it is not sound; empty when it is
    QByteArray sha256; ///< lower-case hex; empty when not read
    std::int64_t size = 0;
    ManifestVerdict manifest = ManifestVerdict::Absent;
};

struct ReleaseReport
{
    QString folder;
    Manifest manifest;
    QVector<ReleaseFile> files;
    int sound = 0;
    int missing = 0;
    int bad = 0; ///< damaged, unfit or refused

    /// Everything that is present is sound, and the manifest (if any) can be read.
    bool presentSound() const { return bad == 0 && manifest.state() != Manifest::State::Unreadable; }
};

/// Checks the release in `folder`. Reads each file once, whole and bounded; never writes.
ReleaseReport checkRelease(const QString &folder);

/// "ok", "MISSING", "DAMAGED", "UNFIT", "REFUSED".
QString releaseStatusName(ReleaseFileStatus status);

/// "0", "4-6", "10-15", "0,3": the positions of a file, ranges joined.
QString positionsText(const QVector<CataloguePosition> &positions);

} // namespace orvo
