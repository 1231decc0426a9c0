#include "arrayviewer/axis_labels.h"

#include <algorithm>

#include "arrayviewer/pixels.h"
#include "base/format_string.h"

namespace ArrayViewer {

namespace {

// The k-th of `count` evenly spaced fractions of [0, 1]. Computed from k rather than by
// adding the step again and again, so that rounding does not drift: the middle label of an
// axis from -40 to 40 is then exactly 0 (a running sum of 1/12 steps printed "-7.1054e-015", and
// that one long text also widened every bottom label slot).
double EvenFraction(int32_t k, int32_t count) {
    return count > 1 ? static_cast<double>(k) / (count - 1) : 0.0;
}

}  // namespace

std::vector<double> XLabelValues(double start, double end, int32_t count) {
    std::vector<double> values;
    for (int32_t k = 0; k < count; ++k) {
        values.push_back(start + (end - start) * EvenFraction(k, count));
    }
    return values;
}

std::vector<double> YLabelValues(const LinearScalarTransformScale* transform, int32_t count) {
    std::vector<double> values;
    if (transform == nullptr) {
        return values;
    }
    for (int32_t k = 0; k < count; ++k) {
        double span = transform->degenerate ? 0.0 : transform->rangeMax - transform->rangeMin;
        values.push_back(transform->rangeMin + span * EvenFraction(k, count));
    }
    return values;
}

std::string FormatXLabel(double xMin, double xMax, double fraction) {
    return FormatToString("%d", {xMin + (xMax - xMin) * fraction});
}

std::string FormatYLabel(double value) {
    return FormatToString("%d", {value});
}

// A line feed's own width belongs to the line it ends.
TextSize MeasureText(const char* text, const int32_t (&charWidths)[256], int32_t lineHeight) {
    int32_t lines = 1;
    int32_t line = 0;
    int32_t widest = 0;
    for (const char* p = text; *p != '\0'; ++p) {
        unsigned char c = static_cast<unsigned char>(*p);
        line += charWidths[c];
        if (c == '\n') {
            widest = std::max(widest, line);
            line = 0;
            ++lines;
        }
    }
    widest = std::max(widest, line);
    return TextSize{widest, lineHeight * lines};
}

TextSize Largest(TextSize a, TextSize b) {
    return TextSize{std::max(a.width, b.width), std::max(a.height, b.height)};
}

// The number of bottom labels drops to what fits at the first paint and never rises again;
// the left labels are stacked without gaps.
void AxisLayout::Layout(const Rect& area, TextSize largestX, TextSize largestY) {
    bottomMargin = largestX.height + 2;
    xLabelWidth = largestX.width + 2;
    leftMargin = largestY.width + 2;
    yLabelHeight = largestY.height;
    int32_t n = (area.Width() - leftMargin) / xLabelWidth;
    if (n > 0 && n < xLabelCount) {
        xLabelCount = n;
    }
    yLabelCount = yLabelHeight > 0 ? std::max(0, (area.Height() - bottomMargin) / yLabelHeight) : 0;
}

bool AxisLayout::Fits(const Rect& area) const {
    return area.Width() > leftMargin && area.Height() > bottomMargin;
}

int32_t AxisLayout::XLabelX(const Rect& area, double r) const {
    return area.left + leftMargin + TruncatePixels(r * (area.Width() - leftMargin));
}

Rect AxisLayout::XLabelRect(const Rect& area, int32_t x) const {
    return Rect{x - xLabelWidth / 2, area.bottom - bottomMargin + 1, x + xLabelWidth / 2, area.bottom};
}

// The bottom of the vertical range sits on the top edge of the bottom strip, its top on the
// top of the area.
int32_t AxisLayout::YLabelY(const Rect& area, double f) const {
    return area.bottom - TruncatePixels(f * (area.Height() - bottomMargin)) - bottomMargin;
}

Rect AxisLayout::YLabelRect(const Rect& area, int32_t y) const {
    return Rect{area.left, y - yLabelHeight / 2, area.left + leftMargin, y + yLabelHeight / 2};
}

Rect AxisLayout::AdjustArea(const Rect& area) const {
    Rect inner = area;
    if (area.Width() > leftMargin) {
        inner.left += leftMargin;
    }
    if (area.Height() > bottomMargin) {
        inner.bottom -= bottomMargin;
    }
    return inner;
}

}  // namespace ArrayViewer
