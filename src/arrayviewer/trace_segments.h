#pragma once
// The arithmetic of the trace layer: which values fall into which pixel column, the vertical
// auto-scaling, and the per-column segments of the trace and of the white erasers around it.

#include <cstdint>
#include <vector>

#include "arrayviewer/draw_context.h"
#include "arrayviewer/layer.h"
#include "arrayviewer/scalar_transform.h"
#include "arrayviewer/values.h"

namespace ArrayViewer {

// The index of the value at fraction `f` of the visible range [start, end] of a series of
// `count` values, clamped to the series.
int32_t ColumnToIndex(double f, double start, double end, int32_t count);

// The part of `area` that a trace with a strip height draws in: the top stripHeight rows, or
// the whole area when stripHeight is 0 or the strip would not fit.
Rect StripArea(const Rect& area, int32_t stripHeight);

// A two-point polyline; GDI leaves out its last point.
struct Segment {
    Point from;
    Point to;
};

class TraceSegments {
  public:
    // Fits `transform` to the visible values (when minRange is not 0) and computes one segment
    // of each set per column of `area`. Returns false, leaving nothing to draw, for an area
    // without width or an empty series.
    bool Compute(AbstractScalarValues1D& values,
                 IZoomScale1D& zoom,
                 IScalarTransformScale& transform,
                 double minRange,
                 const Rect& area);

    // Segments of the trace, of the eraser above it and of the eraser below it, column by column.
    const std::vector<Segment>& trace() const { return trace_; }
    const std::vector<Segment>& above() const { return above_; }
    const std::vector<Segment>& below() const { return below_; }
    int32_t columns() const { return static_cast<int32_t>(trace_.size()); }

    // True when (x, y) lies on the trace of its column (both ends included).
    bool Hit(int32_t x, int32_t y) const;

  private:
    std::vector<Segment> trace_;
    std::vector<Segment> above_;
    std::vector<Segment> below_;
    Rect last_{};
};

}  // namespace ArrayViewer
