#include "arrayviewer/continous_array_1d_win32.h"

#include "arrayviewer/input_messages.h"

namespace ArrayViewer {

ContinousArray1D::ContinousArray1D(IZoomScale1D* zoomScale,
                                   IScalarTransformScale* transform,
                                   AbstractScalarValues1D* values,
                                   double minRange)
    : zoomScale_(zoomScale),
      values_(values),
      pen_(CreatePen(PS_SOLID, 1, RGB(0, 0, 70))),
      highlightPen_(CreatePen(PS_SOLID, 1, RGB(255, 0, 255))),
      minRange_(minRange),
      transform_(transform) {}

// The layer paints its own background column by column (the erasers above and below the
// trace) unless an earlier layer has painted the whole area already; a layer confined to a
// strip never counts as having painted the background.
void ContinousArray1D::Paint(DrawContext& context) {
    if (zoomScale_ == nullptr || transform_ == nullptr || values_ == nullptr) {
        return;
    }
    Rect area = StripArea(*context.area, stripHeight_);
    if (!segments_.Compute(*values_, *zoomScale_, *transform_, minRange_, area)) {
        return;
    }
    HDC hdc = context.hdc;
    {
        SelectedObject pen(hdc, highlighted_ ? highlightPen_.Get() : pen_.Get());
        DrawSegments(hdc, segments_.trace());
    }
    if (stripHeight_ == 0 && context.backgroundPainted) {
        return;
    }
    StockObject<HPEN> white(WHITE_PEN);
    SelectedObject pen(hdc, white.Get());
    DrawSegments(hdc, segments_.above());
    DrawSegments(hdc, segments_.below());
    if (stripHeight_ == 0) {
        context.backgroundPainted = true;
    }
}

// All columns in one PolyPolyline call.
void ContinousArray1D::DrawSegments(HDC hdc, const std::vector<Segment>& segments) {
    size_t n = segments.size();
    points_.resize(2 * n);
    pointCounts_.assign(n, 2);
    for (size_t i = 0; i < n; ++i) {
        points_[2 * i] = POINT{segments[i].from.x, segments[i].from.y};
        points_[2 * i + 1] = POINT{segments[i].to.x, segments[i].to.y};
    }
    PolyPolyline(hdc, points_.data(), pointCounts_.data(), static_cast<DWORD>(n));
}

Rect ContinousArray1D::AdjustArea(const Rect& area) {
    return Rect{area.left, area.top + stripHeight_, area.right, area.bottom};
}

void ContinousArray1D::SetHoverListener(IArrayHoverListener* listener, std::unique_ptr<HoverData> hoverData) {
    hoverListener_ = listener;
    hoverData_ = std::move(hoverData);
}

// A mouse move over the trace is consumed only when someone listens for it.
bool ContinousArray1D::ProcessInput(WindowMessage& message) {
    if (message.message != Input::kMouseMove || hoverListener_ == nullptr) {
        return false;
    }
    if (!segments_.Hit(Input::SignedLowWord(message.lParam), Input::SignedHighWord(message.lParam))) {
        return false;
    }
    hoverListener_->OnArrayHover(this, hoverData_.get());
    return true;
}

}  // namespace ArrayViewer
