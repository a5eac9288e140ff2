#include "jobcodes.h"

#include <array>

namespace orvo {

QString jobModeName(int mode)
{
    static const std::array<const char *, 8> names
        = { "scan", "auto-update", "versions", "check", "update", "reset", "rename", "identify" };
    if (!isJobMode(mode))
        return QString::number(mode);
    return QString::fromLatin1(names[static_cast<std::size_t>(mode)]);
}

} // namespace orvo
