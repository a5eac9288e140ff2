#pragma once

// What a job decided, as data: each board's outcome, how the job ended, and the running figures
// of a download. The activity lines say the same for people; these are for front ends that keep
// a record or decide on it (the command line's report and exit status, tests).

#include "catalogue.h"
#include "updater.h"

#include <QMetaType>
#include <QString>

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
    int mode = -1;     ///< JobMode of the job
    int position = -1; ///< catalogue position
    PanelSlot slot;    ///< its address in the device, from the catalogue
    std::optional<bool> found;          ///< the board answered the job's status query
    std::optional<bool> upToDate;       ///< the version scan's verdict
    std::optional<int> versionBefore;   ///< before anything was changed (0: not asked or not found)
    std::optional<bool> bootModeBefore;
    std::optional<int> versionAfter;    ///< after the update, or from the check after a reset
    std::optional<bool> bootModeAfter;
    std::optional<int> result;          ///< update result code (UpdateResult)
    std::optional<int> attempts;        ///< update attempts; 0 when a fresh query found it up to date
    std::optional<qint64> durationMs;   ///< what the job did to the board, on the worker's clock
    std::optional<int> picType;         ///< processor from the check (kPicUnknown: no answer)
    std::optional<bool> resetSent;      ///< the reset command was delivered
    std::optional<RestartWaitEnd> restartWait; ///< how the wait after the reset ended
    int records = 0;                    ///< download records the board accepted, all attempts
    qint64 downloadMs = 0;              ///< time of those downloads, on the worker's clock
    QString firmwareFile;               ///< the file the update read (last attempt); empty: none
    QByteArray firmwareSha256;          ///< lower-case hex SHA-256 of its content
    std::optional<ManifestVerdict> manifest; ///< what the firmware folder's manifest said of it
    QString refusal;                    ///< why a sound file was refused before the board was touched

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
    int failedBoards = 0;          ///< boards whose update ended with a result other than 1, 4 or 7
    std::optional<bool> delivered; ///< rename: the device answered with its record; identify: sent
};

/// The figures of the running download, after each record the board accepted.
struct DownloadProgress
{
    int position = -1;     ///< catalogue position of the board
    int records = 0;       ///< records accepted so far
    qint64 elapsedMs = 0;  ///< since the download began, on the worker's clock
    qint64 bytesDone = 0;  ///< of the firmware file
    qint64 bytesTotal = 0;
};

} // namespace orvo

Q_DECLARE_METATYPE(orvo::BoardOutcome)
Q_DECLARE_METATYPE(orvo::JobOutcome)
Q_DECLARE_METATYPE(orvo::DownloadProgress)
