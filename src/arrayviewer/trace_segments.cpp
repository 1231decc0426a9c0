#include "arrayviewer/trace_segments.h"

#include <algorithm>

#include "arrayviewer/pixels.h"

namespace ArrayViewer {

namespace {

// Brackets a batch of reads of a value source.
class ValuesLock {
  public:
    explicit ValuesLock(AbstractValues& values) : values_(values) { values_.Lock(); }
    ValuesLock(const ValuesLock&) = delete;
    ValuesLock& operator=(const ValuesLock&) = delete;
    ~ValuesLock() { values_.Unlock(); }

  private:
    AbstractValues& values_;
};

struct Extremes {
    double lo;
    double hi;
};

// Each value is read once: the writer may change it between two reads, and a lower end read
// above the upper one would turn the column's segment upside down.
Extremes ExtremesOf(AbstractScalarValues1D& values, int32_t first, int32_t last) {
    double v0 = values.GetValue(first);
    Extremes e{v0, v0};
    for (int32_t i = first + 1; i <= last; ++i) {
        double v = values.GetValue(i);
        if (v > e.hi) {
            e.hi = v;
        } else if (v < e.lo) {
            e.lo = v;
        }
    }
    return e;
}

// Fits the range to the values of the first to the last column, so that they fill the height
// exactly; a flat stretch is shown in a span of minRange around its value.
void FitTransform(AbstractScalarValues1D& values,
                  double start,
                  double end,
                  IScalarTransformScale& transform,
                  double minRange,
                  int32_t width) {
    int32_t n = values.GetCount();
    int32_t first = ColumnToIndex(0.0, start, end, n);
    int32_t last = ColumnToIndex(static_cast<double>(width - 1) / width, start, end, n);
    Extremes e = ExtremesOf(values, first, last);
    double span = e.hi - e.lo;
    if (!(span > minRange)) {
        span = minRange;
    }
    double centre = (e.lo + e.hi) * 0.5;
    transform.SetRange(centre - span * 0.5, centre + span * 0.5);
}

}  // namespace

Rect StripArea(const Rect& area, int32_t stripHeight) {
    Rect strip = area;
    if (stripHeight != 0 && area.top + stripHeight < area.bottom) {
        strip.bottom = area.top + stripHeight;
    }
    return strip;
}

// Computed in doubles and clamped before the conversion, so that any visible range (even a
// nonsensical one) yields an index inside the series.
int32_t ColumnToIndex(double f, double start, double end, int32_t count) {
    double i = count * (start + (end - start) * f);
    if (!(i >= 0.0)) {
        return 0;
    }
    if (i >= count) {
        return count - 1;
    }
    return static_cast<int32_t>(i);
}

// Each column spans the values from the previous column's end index to its own, so that
// neighbouring columns share their boundary value; a rise or fall between two columns is
// then extended into one connected vertical run. The three segment sets tile each column:
// above covers top..yHi, the trace yHi+1..yLo, below yLo+1..bottom-1 (a polyline leaves out
// its last point). The trace may reach past the area (the visible minimum sits on the row
// below it); the erasers are kept inside, so that they never wipe a neighbour's pixels.
bool TraceSegments::Compute(AbstractScalarValues1D& values,
                            IZoomScale1D& zoom,
                            IScalarTransformScale& transform,
                            double minRange,
                            const Rect& area) {
    int32_t width = area.Width();
    ValuesLock lock(values);
    int32_t n = values.GetCount();
    if (width <= 0 || n <= 0) {
        return false;
    }
    double start = zoom.GetStart();
    double end = zoom.GetEnd();
    if (minRange != 0.0) {
        FitTransform(values, start, end, transform, minRange, width);
    }
    // Resized only when the width changes, so that steady-state painting allocates nothing.
    trace_.resize(width);
    above_.resize(width);
    below_.resize(width);

    int32_t height = area.Height();
    int32_t first = ColumnToIndex(0.0, start, end, n);
    int32_t previousHi = 0;
    int32_t previousLo = 0;
    for (int32_t c = 0; c < width; ++c) {
        int32_t last = ColumnToIndex(static_cast<double>(c + 1) / width, start, end, n);
        Extremes e = ExtremesOf(values, first, last);
        int32_t yLo = area.bottom - TruncatePixels(transform.Transform(e.lo) * height);
        int32_t yHi = area.bottom - TruncatePixels(transform.Transform(e.hi) * height);
        if (yHi == yLo) {
            yHi = yLo - 1;
        }
        if (c > 0) {
            yHi = std::min(yHi, previousLo);
            yLo = std::max(yLo, previousHi);
        }
        int32_t x = area.left + c;
        trace_[c] = {{x, yLo}, {x, yHi}};
        above_[c] = {{x, area.top}, {x, std::clamp(yHi + 1, area.top, area.bottom)}};
        below_[c] = {{x, std::clamp(yLo + 1, area.top, area.bottom)}, {x, area.bottom}};
        previousHi = yHi;
        previousLo = yLo;
        first = last;
    }
    last_ = area;
    return true;
}

bool TraceSegments::Hit(int32_t x, int32_t y) const {
    if (trace_.empty() || x < last_.left || x >= last_.right) {
        return false;
    }
    const Segment& s = trace_[x - last_.left];
    return y >= std::min(s.from.y, s.to.y) && y <= std::max(s.from.y, s.to.y);
}

}  // namespace ArrayViewer
