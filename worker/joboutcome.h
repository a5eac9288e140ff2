#pragma once

// What a job decided, as data: each board's outcome, how the job ended, and the running figures
// of a download. The activity lines say the same for people; these are for front ends that keep
// a record or decide on it (the command line's report and exit status, tests).

#include "catalogue.h"
#include "devicerecord.h"
#include "updater.h"

#include <QMetaType>
#include <QString>
#include <QVector>

#include <cstdint>
#include <optional>

namespace orvo {

/// How a job ended.
enum class JobEnd : int {
    Done = 0,      ///< ran to its end (whatever the boards' results)
    Refused = 1,   ///< the selection addressed nothing; nothing was sent
    Cancelled = 2, ///< the auto update's question was answered No (or the box closed)
    Aborted = 3,   ///< an abort request stopped it
};

/// One board a job visited, as the job left it. A job reports a board again whenever it decides
/// more about it (the auto update after its scan and after the update); the later report
/// holds everything of the earlier one. Empty fields were not found out.
struct BoardOutcome
{
    int mode = -1;                    ///< JobMode of the job
    int position = -1;                ///< catalogue position
    PanelSlot slot;                   ///< its address in the device, from the catalogue
    std::optional<bool> found;        ///< the board answered the job's status query
    std::optional<bool> upToDate;     ///< the version scan's verdict
    std::optional<int> versionBefore; ///< before anything was changed (0: not asked or not found)
    std::optional<bool> bootModeBefore;
    std::optional<int> versionAfter; ///< after the update, or from the check after a reset
    std::optional<bool> bootModeAfter;
    std::optional<int> result;                 ///< update result code (UpdateResult)
    std::optional<int> attempts;               ///< update attempts; 0 when a fresh query found it up to date
    std::optional<qint64> durationMs;          ///< what the job did to the board, on the worker's clock
    std::optional<int> picType;                ///< processor from the check (kPicUnknown: no answer)
    std::optional<bool> resetSent;             ///< the reset command was delivered
    std::optional<RestartWaitEnd> restartWait; ///< how the wait after the reset ended
    int records = 0;                           ///< download records the board accepted, all attempts
    qint64 downloadMs = 0;                     ///< time of those downloads, on the worker's clock
    QString firmwareFile;                      ///< the file the update read (last attempt); empty: none
    QByteArray firmwareSha256;                 ///< lower-case hex SHA-256 of its content
    std::optional<ManifestVerdict> manifest;   ///< what the firmware folder's manifest said of it
    QString refusal;                           ///< why a sound file was refused before the board was touched

    /// Takes the file, its hash and the manifest's verdict from an update's figures.
    void noteFile(const UpdateFigures &figures)
    {
        refusal = figures.refusal;
        if (figures.sha256.isEmpty())
            return;
        firmwareFile = figures.file;
        firmwareSha256 = figures.sha256;
        manifest = figures.manifest;
    }
};

/// How one job ended.
struct JobOutcome
{
    int mode = -1;
    JobEnd end = JobEnd::Done;
    int failedBoards = 0;                    ///< boards whose update ended with a result other than 1, 4 or 7
    std::optional<bool> delivered;           ///< rename: the device answered with its record; identify: sent
    std::optional<OrvoDiscoveryInfo> device; ///< the device the job addressed, as its record read then
    int deviceType = -1;                     ///< the catalogue type the job used for it
};

/// The outcomes one job reported: each board's latest record, in the order the job first
/// reported it, and how the job ended.
struct JobRecord
{
    QVector<BoardOutcome> boards;
    std::optional<JobOutcome> end;

    /// Replaces the earlier record of the same board: a later report holds all of it.
    void add(const BoardOutcome &outcome)
    {
        for (BoardOutcome &b : boards) {
            if (b.position == outcome.position) {
                b = outcome;
                return;
            }
        }
        boards.append(outcome);
    }
    /// How the job ended; a job always reports its end before its thread ends, so without one
    /// it did not run to it.
    JobOutcome ending() const
    {
        if (end)
            return *end;
        JobOutcome cut;
        cut.end = JobEnd::Aborted;
        return cut;
    }
    const BoardOutcome *board(int position) const
    {
        for (const BoardOutcome &b : boards) {
            if (b.position == position)
                return &b;
        }
        return nullptr;
    }
};

/// The figures of the running download, after each record the board accepted.
struct DownloadProgress
{
    int position = -1;    ///< catalogue position of the board
    int records = 0;      ///< records accepted so far
    qint64 elapsedMs = 0; ///< since the download began, on the worker's clock
    qint64 bytesDone = 0; ///< of the firmware file
    qint64 bytesTotal = 0;
};

/// The pace of a download: records per second and whole seconds left, both from the average
/// since the download began (steady, unlike the pace of the last records). Empty until the
/// first record is in.
struct DownloadPace
{
    int recordsPerSecond = 0;
    qint64 secondsLeft = 0; ///< rounded up
};
std::optional<DownloadPace> downloadPace(const DownloadProgress &progress);
/// "850 rec/s  0:07 left": how both front ends write a pace; the window's progress bar puts
/// "  ·  " between the figures.
QString downloadPaceText(const DownloadPace &pace, const QString &separator = QStringLiteral("  "));

} // namespace orvo

Q_DECLARE_METATYPE(orvo::BoardOutcome)
Q_DECLARE_METATYPE(orvo::JobOutcome)
Q_DECLARE_METATYPE(orvo::DownloadProgress)
