#include "arrayviewer/scale_display_1d_win32.h"

#include "arrayviewer/rect_win32.h"
#include "base/errors.h"

namespace ArrayViewer {

namespace {

// Layout measures this many labels of each axis to size the label strips.
constexpr int32_t kMeasuredLabels = 13;

}  // namespace

ScaleDisplay1D::ScaleDisplay1D(LinearScalarTransformScale* transform, IZoomScale1D* zoomScale, double xMin, double xMax)
    : zoomScale_(zoomScale),
      gridPen_(CreatePen(PS_SOLID, 1, RGB(210, 210, 210))),
      font_(CreateFontA(12,
                        0,
                        0,
                        0,
                        500,
                        FALSE,
                        FALSE,
                        FALSE,
                        DEFAULT_CHARSET,
                        OUT_DEFAULT_PRECIS,
                        CLIP_DEFAULT_PRECIS,
                        DEFAULT_QUALITY,
                        DEFAULT_PITCH | FF_DONTCARE,
                        "Lucida Console")),
      background_(WHITE_BRUSH),
      xMin_(xMin),
      xMax_(xMax),
      transform_(transform) {}

// Without a zoom scale the axis shows the whole series.
double ScaleDisplay1D::VisibleStart() const {
    return zoomScale_ != nullptr ? zoomScale_->GetStart() : 0.0;
}

double ScaleDisplay1D::VisibleEnd() const {
    return zoomScale_ != nullptr ? zoomScale_->GetEnd() : 1.0;
}

std::vector<double> ScaleDisplay1D::GetXLabelValues(int32_t count) {
    return XLabelValues(VisibleStart(), VisibleEnd(), count);
}

std::string ScaleDisplay1D::FormatXLabel(double fraction) {
    return ArrayViewer::FormatXLabel(xMin_, xMax_, fraction);
}

std::vector<double> ScaleDisplay1D::GetYLabelValues(int32_t count) {
    return YLabelValues(transform_, count);
}

std::string ScaleDisplay1D::FormatYLabel(double value) {
    return ArrayViewer::FormatYLabel(value);
}

// One table of advance widths per paint serves every label measured in it.
void ScaleDisplay1D::LoadCharWidths(HDC hdc) {
    TEXTMETRICA metrics{};
    GetTextMetricsA(hdc, &metrics);
    lineHeight_ = metrics.tmHeight;
    if (!GetCharWidth32A(hdc, 0, 255, charWidths_)) {
        ThrowError(
            "error in ArrayViewer::ScaleDisplay1D::GetTextSize: GetCharWidth32() failed\r\n"
            "file: _common_source_files\\arrayviewer\r\nline: %i",
            1187);
    }
}

TextSize ScaleDisplay1D::GetTextSize(const char* text, HDC hdc) {
    LoadCharWidths(hdc);
    return MeasureText(text, charWidths_, lineHeight_);
}

// Sizes the label strips from the widest and tallest of a sample of labels of each axis.
void ScaleDisplay1D::Layout(HDC hdc, const Rect& area) {
    LoadCharWidths(hdc);
    TextSize largestX{0, 0};
    for (double v : GetXLabelValues(kMeasuredLabels)) {
        largestX = Largest(largestX, MeasureText(FormatXLabel(v).c_str(), charWidths_, lineHeight_));
    }
    TextSize largestY{0, 0};
    for (double v : GetYLabelValues(kMeasuredLabels)) {
        largestY = Largest(largestY, MeasureText(FormatYLabel(v).c_str(), charWidths_, lineHeight_));
    }
    layout_.Layout(area, largestX, largestY);
}

// The font and pen go back out of the device context when the paint ends; the text colours
// stay set.
void ScaleDisplay1D::Paint(DrawContext& context) {
    HDC hdc = context.hdc;
    const Rect area = *context.area;
    SetBkColor(hdc, RGB(255, 255, 255));
    SetTextColor(hdc, textColour_);
    SelectedObject font(hdc, font_.Get());
    SelectedObject pen(hdc, gridPen_.Get());
    Layout(hdc, area);
    if (!layout_.Fits(area)) {
        return;
    }
    context.backgroundPainted = true;
    RECT whole = ToRECT(area);
    FillRect(hdc, &whole, background_.Get());
    if (layout_.xLabelCount > 0) {
        DrawBottomLabels(hdc, area);
    }
    DrawLeftLabels(hdc, area);
}

void ScaleDisplay1D::DrawBottomLabels(HDC hdc, const Rect& area) {
    double start = VisibleStart();
    double end = VisibleEnd();
    for (double v : GetXLabelValues(layout_.xLabelCount)) {
        std::string text = FormatXLabel(v);
        int32_t x = layout_.XLabelX(area, (v - start) / (end - start));
        RECT box = ToRECT(layout_.XLabelRect(area, x));
        DrawTextA(hdc, text.c_str(), -1, &box, DT_CENTER | DT_WORDBREAK);
        if (gridLines_) {
            MoveToEx(hdc, x, area.top, nullptr);
            LineTo(hdc, x, area.bottom - layout_.bottomMargin);
        }
    }
}

void ScaleDisplay1D::DrawLeftLabels(HDC hdc, const Rect& area) {
    for (double v : GetYLabelValues(layout_.yLabelCount)) {
        std::string text = FormatYLabel(v);
        int32_t y = layout_.YLabelY(area, transform_->Transform(v));
        RECT box = ToRECT(layout_.YLabelRect(area, y));
        DrawTextA(hdc, text.c_str(), -1, &box, DT_RIGHT | DT_WORDBREAK);
        if (gridLines_) {
            MoveToEx(hdc, area.left + layout_.leftMargin, y, nullptr);
            LineTo(hdc, area.right, y);
        }
    }
}

Rect ScaleDisplay1D::AdjustArea(const Rect& area) {
    return layout_.AdjustArea(area);
}

}  // namespace ArrayViewer
