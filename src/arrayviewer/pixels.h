#pragma once
// Converting computed pixel offsets to integers.

#include <algorithm>
#include <cstdint>

namespace ArrayViewer {

// A pixel offset truncated toward zero. NaN and offsets far beyond any screen saturate, so
// that a wild value (or a range without width) never makes the conversion undefined.
inline int32_t TruncatePixels(double v) {
    constexpr double kLimit = 1 << 26;
    if (v != v) {
        return 0;
    }
    return static_cast<int32_t>(std::clamp(v, -kLimit, kLimit));
}

}  // namespace ArrayViewer
