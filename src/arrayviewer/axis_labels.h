#pragma once
// The arithmetic of the axis layer: label values and texts, text measuring from a table of
// character widths, and the layout of the label strips and of each label.

#include <cstdint>
#include <string>
#include <vector>

#include "arrayviewer/draw_context.h"
#include "arrayviewer/scalar_transform.h"

namespace ArrayViewer {

// `count` evenly spaced fractions from `start` to `end` inclusive (one label: start alone).
std::vector<double> XLabelValues(double start, double end, int32_t count);

// `count` evenly spaced values from the transform's rangeMin to its rangeMax inclusive; none
// without a transform.
std::vector<double> YLabelValues(const LinearScalarTransformScale* transform, int32_t count);

// The bottom label for a fraction of the series that runs from xMin to xMax, and a left label.
std::string FormatXLabel(double xMin, double xMax, double fraction);
std::string FormatYLabel(double value);

struct TextSize {
    int32_t width;
    int32_t height;
};

// The size of a text in a font with the given advance widths (of codes 0 to 255) and line
// height: as tall as its lines together and as wide as its widest line.
TextSize MeasureText(const char* text, const int32_t (&charWidths)[256], int32_t lineHeight);

// The greatest width and the greatest height of two sizes, each by itself.
TextSize Largest(TextSize a, TextSize b);

// The label strips along the bottom and the left of the axis, and where each label goes.
class AxisLayout {
  public:
    // From the largest bottom label and the largest left label in the area to paint.
    void Layout(const Rect& area, TextSize largestX, TextSize largestY);

    // Whether anything is drawn: the area must be wider than the left strip and taller than the
    // bottom strip.
    bool Fits(const Rect& area) const;

    // The column of a bottom label at fraction r of the visible range, and its text rectangle.
    int32_t XLabelX(const Rect& area, double r) const;
    Rect XLabelRect(const Rect& area, int32_t x) const;

    // The row of a left label whose value lies at fraction f of the vertical range, and its
    // text rectangle.
    int32_t YLabelY(const Rect& area, double f) const;
    Rect YLabelRect(const Rect& area, int32_t y) const;

    // The inner plot rectangle: the area without the two strips.
    Rect AdjustArea(const Rect& area) const;

    int32_t xLabelCount = 1000;  // only ever lowered
    int32_t yLabelCount = 0;
    int32_t leftMargin = 0;
    int32_t bottomMargin = 0;
    int32_t yLabelHeight = 0;
    int32_t xLabelWidth = 0;
};

}  // namespace ArrayViewer
