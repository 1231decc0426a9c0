#pragma once
// ScaleDisplay1D: the axis layer; paints the white background, the value labels along the
// bottom and the left, and the grid, and leaves the inner rectangle to the next layers.

#include <windows.h>

#include <string>
#include <vector>

#include "arrayviewer/axis_labels.h"
#include "arrayviewer/layer.h"
#include "arrayviewer/scalar_transform.h"
#include "windowing/gdi_objects.h"

namespace ArrayViewer {

class ScaleDisplay1D : public Array {
  public:
    // The bottom labels run from xMin at the start of the series to xMax at its end; the left
    // labels follow the transform (none without one). Neither pointer is owned.
    ScaleDisplay1D(LinearScalarTransformScale* transform, IZoomScale1D* zoomScale, double xMin, double xMax);

    void Paint(DrawContext& context) override;
    Rect AdjustArea(const Rect& area) override;

    virtual std::vector<double> GetXLabelValues(int32_t count);
    virtual std::string FormatXLabel(double fraction);
    virtual std::vector<double> GetYLabelValues(int32_t count);
    virtual std::string FormatYLabel(double value);

    // The size of a text in the font selected into hdc.
    TextSize GetTextSize(const char* text, HDC hdc);

    void SetGridLines(bool on) { gridLines_ = on; }
    const AxisLayout& layout() const { return layout_; }

  private:
    double VisibleStart() const;
    double VisibleEnd() const;
    void Layout(HDC hdc, const Rect& area);
    void LoadCharWidths(HDC hdc);
    void DrawBottomLabels(HDC hdc, const Rect& area);
    void DrawLeftLabels(HDC hdc, const Rect& area);

    IZoomScale1D* zoomScale_;
    OwnedPen gridPen_;
    OwnedFont font_;
    StockObject<HBRUSH> background_;
    COLORREF textColour_ = RGB(50, 0, 50);
    AxisLayout layout_;
    double xMin_;
    double xMax_;
    bool gridLines_ = true;
    LinearScalarTransformScale* transform_;
    int32_t charWidths_[256] = {};
    int32_t lineHeight_ = 0;
};

}  // namespace ArrayViewer
