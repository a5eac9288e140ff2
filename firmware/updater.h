#pragma once

#include "catalogue.h"
#include "manifest.h"
#include "rowicon.h"

#include <QByteArray>
#include <QString>

#include <cstdint>

namespace orvo {

class PanelLink;

/// Where an update (and a reset wait) reports: activity lines and the task progress bar.
class UpdateReporter
{
public:
    virtual ~UpdateReporter() = default;
    /// One activity line: a blank spacer, information, an error or a warning.
    virtual void listLine(RowIcon icon, const QString &text) = 0;
    /// The task progress bar: (true, p, false, 0, 0) waiting, (true, p, true, 0, 100)
    /// programming, (false, 0, true, 0, 100) hidden.
    virtual void progress(bool visible, int value, bool showText, int min, int max) = 0;
    /// After each download record the board accepted: records accepted so far, milliseconds of
    /// the link's clock since the download began, and file bytes done out of `bytesTotal`.
    virtual void downloadProgress(
        int /*records*/, std::int64_t /*elapsedMs*/, std::int64_t /*bytesDone*/, std::int64_t /*bytesTotal*/)
    { }
};

/// What one update found on the board and what its download did, for the caller's record.
struct UpdateFigures
{
    bool found = false;          ///< the board answered the first status query
    int versionBefore = 0;       ///< firmware version in that answer
    bool bootModeBefore = false; ///< the answer said the boot loader runs
    bool checked = false;        ///< the board answered a status query after the download
    int versionAfter = 0;        ///< firmware version in the last such answer
    bool bootModeAfter = false;
    int records = 0;             ///< download records the board accepted
    std::int64_t downloadMs = 0; ///< from the first record sent to the last answer, link's clock
    QString file;                ///< the file that was read, relative to the firmware folder when inside it
    QByteArray sha256;           ///< lower-case hex SHA-256 of its content; empty when it was not read
    ManifestVerdict manifest = ManifestVerdict::Absent; ///< what the folder's manifest said of it
    /// The error line of a sound file refused for its manifest or for what its memory map would
    /// do to the board; empty otherwise (a damaged file keeps to its own lines).
    QString refusal;
};

/// How a restart wait ended.
enum class RestartWaitEnd { Waited, DeviceAnswered, Stopped };

/// One board to update.
struct PanelUpdateRequest
{
    QByteArray path;           ///< full path of the firmware file, 8-bit
    int deviceType = 0;        ///< selected device type 0..4
    int panelIndex = 0;        ///< selected catalogue position (display name only)
    PanelSlot slot;            ///< the board the commands go to
    std::uint8_t picType = 12; ///< 0..11, 12 unknown
    bool verbose = true;       ///< step lines to the activity list
    /// The firmware folder the file was chosen from: its SHA256SUMS, when there is one, must
    /// vouch for the file. Empty: no manifest is looked for.
    QString firmwareFolder;
};

/// The update of the board at `slot`, catalogue position `panelIndex` of `deviceType`, with the
/// file at `path` (8-bit).
PanelUpdateRequest makePanelUpdateRequest(
    const QByteArray &path, int deviceType, int panelIndex, const PanelSlot &slot, std::uint8_t picType, bool verbose);

/// Takes one board through the boot-loader update and returns its result.
/// Talks to the board only through `link`; the file is checked before any contact. `figures`, when
/// given, receives what the update found and did.
UpdateResult updatePanelFirmware(
    PanelLink &link, UpdateReporter &reporter, const PanelUpdateRequest &request, UpdateFigures *figures = nullptr);

/// The wait after a request that restarts a board: 3000 ticks of 10 ms, or 10500 ticks with a
/// probe of the device at ticks 3000, 6000 and 9000 when `probeDevice` is set. Sends the waiting
/// progress; stops at the next tick after an abort request.
RestartWaitEnd restartWait(PanelLink &link, UpdateReporter &reporter, bool probeDevice);

} // namespace orvo
