#pragma once

// The codes a job hands to its front ends: job modes, result rows, message-box icons and
// buttons. Their numbers are fixed: they travel in the worker's signals, the command line's
// JSON report and the board history, and the window's pictures are chosen by them.

#include "catalogue.h"
#include "rowicon.h"

#include <QMetaType>
#include <QString>

namespace orvo {

/// What requestWork asks the worker to do.
enum class JobMode : int {
    ScanNetwork = 0,
    AutoUpdate = 1,
    GetVersions = 2,
    CheckPanel = 3,
    UpdatePanel = 4,
    ResetPanel = 5,
    RenameDevice = 6,
    IdentifyDevice = 7,
};
/// True for the eight modes that run a job; any other number runs none.
constexpr bool isJobMode(int mode)
{
    return mode >= int(JobMode::ScanNetwork) && mode <= int(JobMode::IdentifyDevice);
}
/// The job as the command line and the history name it: "scan", "auto-update", "versions", ...;
/// the number itself for anything else.
QString jobModeName(int mode);

/// The result row of a board's update: RowIcon 5..12, one per result.
constexpr RowIcon rowIconFor(UpdateResult result)
{
    return static_cast<RowIcon>(int(RowIcon::ResultFailed) + int(result));
}

/// The icon of a message box, numbered as the window's message boxes number them.
enum class BoxIcon : int {
    None = 0,
    Information = 1,
    Warning = 2,
    Critical = 3,
    Question = 4,
};

/// A message-box button, numbered as the window's standard buttons: the answer to a box.
enum class BoxButton : quint32 {
    None = 0, ///< the box was not answered (withdrawn while the window closed)
    Ok = 0x400,
    Yes = 0x4000,
    No = 0x10000,
};
/// The buttons a box offers.
enum class BoxButtons : quint32 {
    Ok = 0x400,
    YesNo = 0x14000,
};

} // namespace orvo

Q_DECLARE_METATYPE(orvo::BoxIcon)
Q_DECLARE_METATYPE(orvo::BoxButton)
Q_DECLARE_METATYPE(orvo::BoxButtons)
