#pragma once
// What the graph's layers and zoom scales paint with: rectangles, the DrawContext of one paint,
// and IViewer, the services of the window they are attached to.

#include <cstdint>

// The platform's device context handle; the same type as HDC, without <windows.h>.
struct HDC__;

namespace ArrayViewer {

using DeviceContext = HDC__*;

// A pixel rectangle; right and bottom are exclusive.
struct Rect {
    int32_t left;
    int32_t top;
    int32_t right;
    int32_t bottom;

    int32_t Width() const { return right - left; }
    int32_t Height() const { return bottom - top; }
    bool operator==(const Rect&) const = default;
};

struct Point {
    int32_t x;
    int32_t y;
    bool operator==(const Point&) const = default;
};

struct DrawContext {
    DeviceContext hdc;
    // Set by the first layer that has painted the background of the whole current area.
    bool backgroundPainted;
    // The paint rectangle during WM_PAINT when the platform reports no pending erase, else none.
    const Rect* updateRect;
    // The area the current layer draws in; the viewer trims it between layers.
    Rect* area;
};

// What a layer or zoom scale may ask of the viewer window it is attached to.
class IViewer {
  public:
    // Draws every layer and the cursor into `hdc` at once.
    virtual void Paint(DeviceContext hdc, const Rect* updateRect) = 0;
    // A device context of the viewer's window (null when it has none), and its release.
    virtual DeviceContext AcquireWindowDC() = 0;
    virtual void ReleaseWindowDC(DeviceContext hdc) = 0;
    // Inverts the pixels of `r` in `hdc`; the cursor line is drawn and erased this way.
    virtual void InvertRectangle(DeviceContext hdc, const Rect& r) = 0;
    virtual void CaptureMouse() = 0;
    virtual void ReleaseMouse() = 0;

  protected:
    ~IViewer() = default;
};

// Holds a device context of a viewer's window for one scope.
class ViewerDC {
  public:
    explicit ViewerDC(IViewer& viewer) : viewer_(viewer), hdc_(viewer.AcquireWindowDC()) {}
    ViewerDC(const ViewerDC&) = delete;
    ViewerDC& operator=(const ViewerDC&) = delete;
    ~ViewerDC() {
        if (hdc_ != nullptr) {
            viewer_.ReleaseWindowDC(hdc_);
        }
    }

    DeviceContext Get() const { return hdc_; }

  private:
    IViewer& viewer_;
    DeviceContext hdc_;
};

// Paints the whole viewer now into a fresh device context of its window.
void RepaintViewer(IViewer& viewer);

}  // namespace ArrayViewer
