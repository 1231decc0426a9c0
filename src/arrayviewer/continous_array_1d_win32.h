#pragma once
// ContinousArray1D: the layer that plots a value series as a min/max trace, one vertical line
// per pixel column, fitted to the visible values.

#include <windows.h>

#include <memory>
#include <vector>

#include "arrayviewer/layer.h"
#include "arrayviewer/scalar_transform.h"
#include "arrayviewer/trace_segments.h"
#include "arrayviewer/values.h"
#include "windowing/gdi_objects.h"

namespace ArrayViewer {

// Whatever a hover listener wants handed back with OnArrayHover; owned by the layer.
class HoverData {
  public:
    virtual ~HoverData() = default;
};

// Told when the mouse moves over a layer's trace.
class IArrayHoverListener {
  public:
    virtual ~IArrayHoverListener() = default;
    virtual void OnArrayHover(Array* array, HoverData* hoverData) = 0;
};

class ContinousArray1D final : public Array {
  public:
    // minRange: the smallest vertical span, in value units, of the auto-scaling; 0 turns
    // auto-scaling off. The zoom scale, transform and values are not owned.
    ContinousArray1D(IZoomScale1D* zoomScale,
                     IScalarTransformScale* transform,
                     AbstractScalarValues1D* values,
                     double minRange);

    void Paint(DrawContext& context) override;
    Rect AdjustArea(const Rect& area) override;
    bool ProcessInput(WindowMessage& message) override;

    void SetStripHeight(int32_t stripHeight) { stripHeight_ = stripHeight; }
    void SetHighlighted(bool highlighted) { highlighted_ = highlighted; }
    void SetHoverListener(IArrayHoverListener* listener, std::unique_ptr<HoverData> hoverData);

    const TraceSegments& segments() const { return segments_; }

  private:
    void DrawSegments(HDC hdc, const std::vector<Segment>& segments);

    IZoomScale1D* zoomScale_;
    AbstractScalarValues1D* values_;
    OwnedPen pen_;
    OwnedPen highlightPen_;
    int32_t stripHeight_ = 0;
    double minRange_;
    std::unique_ptr<HoverData> hoverData_;
    IArrayHoverListener* hoverListener_ = nullptr;
    bool highlighted_ = false;
    TraceSegments segments_;
    // The segments in GDI's point type and the per-polyline counts (all 2), kept between paints
    // so that steady-state painting allocates nothing.
    std::vector<POINT> points_;
    std::vector<DWORD> pointCounts_;
    IScalarTransformScale* transform_;
};

}  // namespace ArrayViewer
