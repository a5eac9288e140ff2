#pragma once

#include <cstdint>

namespace orvo {

/// The whole percentage of `done` out of `total` that the progress bars show: computed in single
/// precision and truncated, as the bars have always been fed. 0 when `total` is not positive.
inline int progressPercent(std::int64_t done, std::int64_t total)
{
    if (total <= 0)
        return 0;
    return static_cast<int>(static_cast<float>(done) / static_cast<float>(total) * 100.0f);
}

/// The download bar's percentage: as progressPercent, but a download past 99 % shows 100, so the
/// bar is full while the last records go out.
inline int downloadPercent(std::int64_t done, std::int64_t total)
{
    if (total <= 0)
        return 0;
    const float p = static_cast<float>(done) / static_cast<float>(total) * 100.0f;
    return p > 99.0f ? 100 : static_cast<int>(p);
}

} // namespace orvo
