#pragma once
// Conversions between the graph's Rect and GDI's RECT.

#include <windows.h>

#include "arrayviewer/draw_context.h"

namespace ArrayViewer {

inline RECT ToRECT(const Rect& r) {
    return RECT{r.left, r.top, r.right, r.bottom};
}

inline Rect FromRECT(const RECT& r) {
    return Rect{r.left, r.top, r.right, r.bottom};
}

}  // namespace ArrayViewer
