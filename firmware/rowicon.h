#pragma once

// The icon of one activity row, as the jobs and the board update write them. The numbers travel
// in the worker's signals, the command line's JSON report and its log.

#include <QMetaType>

namespace orvo {

enum class RowIcon : int {
    Blank = 0, ///< the empty spacer row
    Success = 1,
    Information = 2,
    Error = 3,
    Warning = 4,
    // 5..12: the result row of a board's update, one per UpdateResult (rowIconFor).
    ResultFailed = 5,
    ResultSuccessful = 6,
    ResultStillInBootMode = 7,
    ResultConnectionProblem = 8,
    ResultPanelNotFound = 9,
    ResultPending = 10,
    ResultFileMissing = 11,
    ResultNotRequired = 12,
};

/// The picture a row icon stands for: the window draws it, the command line writes its mark.
enum class RowPicture { None, Applied, Critical, Warning, Information };
struct RowIconLook
{
    RowPicture picture;
    const char *mark; ///< the command line's mark ("[ok]", "[!! failed]"); empty for a blank row
};

/// How both front ends show `icon`; any other number looks like an information row.
constexpr RowIconLook rowIconLook(RowIcon icon)
{
    switch (icon) {
    case RowIcon::Blank:
        return { RowPicture::None, "" };
    case RowIcon::Success:
        return { RowPicture::Applied, "[ok]" };
    case RowIcon::Error:
        return { RowPicture::Critical, "[!!]" };
    case RowIcon::Warning:
        return { RowPicture::Warning, "[w!]" };
    case RowIcon::ResultFailed:
        return { RowPicture::Critical, "[!! failed]" };
    case RowIcon::ResultSuccessful:
        return { RowPicture::Applied, "[ok updated]" };
    case RowIcon::ResultStillInBootMode:
        return { RowPicture::Critical, "[!! boot mode]" };
    case RowIcon::ResultConnectionProblem:
        return { RowPicture::Critical, "[!! connection]" };
    case RowIcon::ResultPanelNotFound:
        return { RowPicture::Critical, "[!! not found]" };
    case RowIcon::ResultPending:
        return { RowPicture::Warning, "[w! pending]" };
    case RowIcon::ResultFileMissing:
        return { RowPicture::Critical, "[!! no file]" };
    case RowIcon::ResultNotRequired:
        return { RowPicture::Applied, "[ok up to date]" };
    case RowIcon::Information:
        break;
    }
    return { RowPicture::Information, "[..]" };
}

} // namespace orvo

Q_DECLARE_METATYPE(orvo::RowIcon)
