#pragma once

// What the command-line front end makes of the worker's output: the mark in front of each
// activity line, the log file's line format, and the per-board record that the JSON report
// and the exit status are built from.

#include "catalogue.h"
#include "clioptions.h"
#include "devicerecord.h"
#include "worker.h"

#include <QDateTime>
#include <QJsonObject>
#include <QString>
#include <QVector>

#include <optional>

namespace orvo::cli {

/// Mark printed in front of an activity line, by its icon code: "[ok]" success, "[..]"
/// information, "[!!]" error, "[w!]" warning, and for the result line of an update (5 + result)
/// a mark that names the result. Code 0 (the blank spacer line) has no mark.
QString lineMark(int icon);

/// One line of the window's log file: "dd/MM/yyyy  hh:mm:ss.zzz   " + text.
QString logFileLine(const QDateTime &when, const QString &text);

/// The window keeps the running address lines of the subnet sweep out of its log file.
bool isLoggedRow(const QString &text);

/// One board visited by the job, as far as the job's lines and signals tell.
struct BoardReport
{
    int position = -1;
    std::optional<bool> found;          ///< the board answered (check, version scan)
    std::optional<bool> upToDate;       ///< the version scan's verdict
    std::optional<int> versionBefore;   ///< version read before anything was changed
    std::optional<bool> bootModeBefore;
    std::optional<int> versionAfter;    ///< version read after the update or reset
    std::optional<bool> bootModeAfter;
    std::optional<int> result;          ///< update result code 0..7
    std::optional<int> attempts;        ///< update attempts
    std::optional<qint64> durationMs;   ///< of the update, on the worker's clock
    std::optional<bool> resetSent;
    QString processor;
};

/// Follows the activity lines of one job (not the device look-up before it) and collects the
/// boards it visits and the lines that tell how it ended.
class JobTracker
{
public:
    JobTracker(Command command, int deviceType, int panelIndex);

    /// One activity line; `nowMs` is the worker clock's time when it arrived.
    void line(int icon, const QString &text, qint64 nowMs);
    /// The auto update's report of one board (exact attempts and duration).
    void boardUpdated(const PanelStatus &status, int attempts, qint64 durationMs);

    const QVector<BoardReport> &boards() const { return m_boards; }
    int deviceType() const { return m_deviceType; }

    bool refused() const { return m_refused; }               ///< the job found nothing to act on
    bool scanFinished() const { return m_scanFinished; }     ///< "*** FIRMWARE VERSION SCAN FINISHED ***"
    bool updateFinished() const { return m_updateFinished; } ///< "*** FIRMWARE UPDATE FINISHED ***"
    bool updateCancelled() const { return m_updateCancelled; }
    /// N of "WARNING!  Firmware update FAILED on N panels/boards!", if that line came.
    std::optional<int> failedBoards() const { return m_failedBoards; }
    /// Boards whose update ended with a result other than 1, 4 and 7.
    int boardsFailed() const;

private:
    BoardReport &board(int position);
    std::optional<int> positionOfName(const QString &name) const;
    bool statusText(const QString &text, int &position, int &version, bool &bootMode) const;
    void versionLines(int icon, const QString &text, qint64 nowMs);
    void updateLines(int icon, const QString &text, qint64 nowMs);
    void checkLines(int icon, const QString &text, bool afterReset);

    Command m_command;
    int m_deviceType;
    int m_panelIndex;
    QVector<BoardReport> m_boards;
    int m_current = -1;       ///< board of the running update (auto update)
    qint64 m_startMs = -1;    ///< start of the running update
    bool m_finishing = false; ///< the single update has left the boot loader
    bool m_refused = false;
    bool m_scanFinished = false;
    bool m_updateFinished = false;
    bool m_updateCancelled = false;
    std::optional<int> m_failedBoards;
};

/// The fields of a device record.
QJsonObject deviceJson(const OrvoDiscoveryInfo &record);

/// The four bytes that address a board inside its device.
QJsonObject slotJson(const PanelSlot &slot);

/// One board of the report, with its catalogue data.
QJsonObject boardJson(int deviceType, const BoardReport &board);

} // namespace orvo::cli
