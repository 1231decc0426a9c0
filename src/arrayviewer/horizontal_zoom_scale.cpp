#include "arrayviewer/horizontal_zoom_scale.h"

#include <algorithm>
#include <cmath>

#include "arrayviewer/input_messages.h"
#include "arrayviewer/pixels.h"
#include "base/errors.h"

namespace ArrayViewer {

namespace {

constexpr double kZoomIn = 0.7;
constexpr double kZoomOut = 2.0;
constexpr double kKeyPan = 0.03;

// The narrowest visible range. Without it, zooming in far enough (or panning against an edge
// long enough) rounds the range to zero width, from which neither zooming out (0 times 2)
// nor panning (0 times anything) could ever recover.
constexpr double kMinimumWidth = 1e-6;

double Clamp01(double v) {
    return v < 0.0 ? 0.0 : (v > 1.0 ? 1.0 : v);
}

}  // namespace

HorizontalZoomScale::HorizontalZoomScale() = default;

// The viewer paints its zoom scale after all layers, so the area is the inner plot rectangle
// to which every pixel position of the scale refers.
void HorizontalZoomScale::Paint(DrawContext& context) {
    plotArea_ = *context.area;
}

bool HorizontalZoomScale::ProcessInput(WindowMessage& message) {
    switch (message.message) {
        case Input::kKeyDown:
            OnKeyDown(static_cast<int8_t>(message.wParam & 0xFF));
            return false;
        case Input::kMouseMove:
            OnMouseMove(Input::SignedLowWord(message.lParam), Input::SignedHighWord(message.lParam));
            return false;
        case Input::kLeftButtonDown:
            OnLButtonDown(Input::UnsignedLowWord(message.lParam), Input::UnsignedHighWord(message.lParam));
            return true;
        case Input::kLeftButtonUp:
            if (dragging_) {
                dragging_ = false;
                if (viewer() != nullptr) {
                    viewer()->ReleaseMouse();
                }
            }
            return false;
        case Input::kMouseWheel: {
            int32_t delta = Input::SignedHighWord(static_cast<intptr_t>(message.wParam));
            if (delta > 0) {
                Zoom(kZoomIn);
            } else if (delta < 0) {
                Zoom(kZoomOut);
            }
            return false;
        }
        case Input::kCaptureChanged:
            dragging_ = false;
            return false;
        default:
            return false;
    }
}

void HorizontalZoomScale::OnKeyDown(int8_t key) {
    if (key == Input::kVkLeft || key == 'A') {
        Pan(-kKeyPan);
    } else if (key == Input::kVkUp || key == 'W') {
        Zoom(kZoomIn);
    } else if (key == Input::kVkRight || key == 'D') {
        Pan(kKeyPan);
    } else if (key == Input::kVkDown || key == 'S') {
        Zoom(kZoomOut);
    }
}

// Dragging pans so that the content follows the mouse: moving right shows earlier values.
void HorizontalZoomScale::OnMouseMove(int32_t x, int32_t y) {
    int32_t width = plotArea_.Width();
    // A move straight up or down (a wobble of the hand) leaves the range, and so the cursor,
    // where they are.
    if (!dragging_ || width <= 0 || x == lastMouseX_) {
        return;
    }
    Pan(static_cast<double>(lastMouseX_ - x) / width);
    lastMouseX_ = x;
    lastMouseY_ = y;
}

// A click places the cursor under the mouse and starts a drag. Before the first paint there
// is no plot area yet; the click then puts the cursor at the start of the visible range.
void HorizontalZoomScale::OnLButtonDown(int32_t x, int32_t y) {
    int32_t width = plotArea_.Width();
    double position = visibleStart_;
    if (width > 0) {
        position += (visibleEnd_ - visibleStart_) * (x - plotArea_.left) / width;
    }
    MoveCursor(position);
    NotifyCursorListener();
    lastMouseX_ = x;
    lastMouseY_ = y;
    dragging_ = true;
    if (viewer() != nullptr) {
        viewer()->CaptureMouse();
    }
}

int32_t HorizontalZoomScale::CursorColumn() const {
    double r = (cursorPosition_ - visibleStart_) / (visibleEnd_ - visibleStart_);
    return plotArea_.left + TruncatePixels(r * plotArea_.Width());
}

// Inverting twice restores the screen, so the same call draws and erases the line. Nothing
// happens (and cursorShown keeps its meaning, "the line is on the screen") while there is no
// device context, no viewer or no plot area yet.
void HorizontalZoomScale::InvertCursor(DeviceContext hdc, const Rect& area) {
    if (hdc == nullptr || viewer() == nullptr || plotArea_.Width() <= 0 || plotArea_.Height() <= 0) {
        return;
    }
    int32_t x = CursorColumn();
    viewer()->InvertRectangle(hdc, Rect{x, plotArea_.top, x + 1, plotArea_.bottom});
    cursorShown_ = !cursorShown_;
}

void HorizontalZoomScale::HideCursor(DeviceContext hdc, const Rect& area) {
    if (cursorShown_) {
        InvertCursor(hdc, area);
    }
}

void HorizontalZoomScale::ForgetCursor() {
    cursorShown_ = false;
}

// The line is shown at the new place whatever the blink phase was.
void HorizontalZoomScale::MoveCursor(double position) {
    if (viewer() == nullptr) {
        cursorPosition_ = position;
        return;
    }
    ViewerDC dc(*viewer());
    HideCursor(dc.Get(), plotArea_);
    cursorPosition_ = position;
    InvertCursor(dc.Get(), plotArea_);
}

// Zooms about the cursor, or about the nearer end of the visible range when the cursor lies
// outside it (a click in the label strip puts it there): a range twice as wide about a point
// of the old one holds all of it, so zooming out never shows less, and zooming in stays on
// what was shown. A width beyond the series shows all of it; otherwise the range is cut at an
// edge, not shifted. Zooming out moves the cursor to the middle of the new range, zooming in
// keeps it.
void HorizontalZoomScale::Zoom(double factor) {
    if (!(factor > 0.0) || !std::isfinite(factor)) {
        return;
    }
    const double centre = std::clamp(cursorPosition_, visibleStart_, visibleEnd_);
    const double width = (visibleEnd_ - visibleStart_) * factor;
    if (width >= 1.0) {
        visibleStart_ = 0.0;
        visibleEnd_ = 1.0;
    } else {
        visibleStart_ = centre - width * 0.5;
        visibleEnd_ = centre + width * 0.5;
    }
    ClampRange();
    if (factor > 1.0) {
        cursorPosition_ = (visibleStart_ + visibleEnd_) * 0.5;
    }
    RepaintWithFollowers();
}

// Pans by a fraction of the visible width; against an edge the range narrows instead of
// stopping. The cursor goes to the middle.
void HorizontalZoomScale::Pan(double fraction) {
    if (!std::isfinite(fraction)) {
        return;
    }
    double d = (visibleEnd_ - visibleStart_) * fraction;
    visibleStart_ += d;
    visibleEnd_ += d;
    ClampRange();
    cursorPosition_ = (visibleStart_ + visibleEnd_) * 0.5;
    RepaintWithFollowers();
    NotifyCursorListener();
}

// Each end is clamped to [0, 1] by itself; a range that this (or rounding) leaves narrower
// than the minimum is widened back to it.
void HorizontalZoomScale::ClampRange() {
    visibleStart_ = Clamp01(visibleStart_);
    visibleEnd_ = Clamp01(visibleEnd_);
    if (visibleEnd_ - visibleStart_ < kMinimumWidth) {
        if (visibleStart_ + kMinimumWidth <= 1.0) {
            visibleEnd_ = visibleStart_ + kMinimumWidth;
        } else {
            visibleEnd_ = 1.0;
            visibleStart_ = 1.0 - kMinimumWidth;
        }
    }
}

void HorizontalZoomScale::SetVisibleRange(double start, double end) {
    if (!(start >= 0.0 && end <= 1.0 && end > start)) {
        ThrowFixed("invalid scale");
    }
    visibleStart_ = start;
    visibleEnd_ = end;
    cursorPosition_ = (start + end) * 0.5;
    for (uint32_t i = 0; i < followers_.GetCount(); ++i) {
        followers_.Get(i)->SetVisibleRange(start, end);
    }
    NotifyCursorListener();
}

void HorizontalZoomScale::AddFollower(HorizontalZoomScale* follower) {
    followers_.Add(follower);
}

void HorizontalZoomScale::RepaintWithFollowers() {
    if (viewer() != nullptr) {
        RepaintViewer(*viewer());
    }
    for (uint32_t i = 0; i < followers_.GetCount(); ++i) {
        HorizontalZoomScale* follower = followers_.Get(i);
        follower->SetVisibleRange(visibleStart_, visibleEnd_);
        if (follower->viewer() != nullptr) {
            RepaintViewer(*follower->viewer());
        }
    }
}

void HorizontalZoomScale::NotifyCursorListener() {
    if (cursorListener_ != nullptr) {
        cursorListener_->OnCursorMoved(viewer(), cursorPosition_);
    }
}

}  // namespace ArrayViewer
