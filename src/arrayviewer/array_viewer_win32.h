#pragma once
// ArrayViewer: the graph control, a bordered child window that paints a stack of layers under
// a zoom scale, blinks the zoom scale's cursor and routes the window's messages to them.

#include <windows.h>

#include <memory>

#include "arrayviewer/draw_context.h"
#include "arrayviewer/layer.h"
#include "arrayviewer/pointer_list.h"
#include "windowing/window.h"

namespace ArrayViewer {

class ArrayViewer final : public Window, public IViewer {
  public:
    ArrayViewer() = default;

    // Creates and shows the window over `rect` (client coordinates of `parent`; none gives a
    // 0 x 0 window at the parent's origin). The viewer takes the zoom scale (none: the fixed
    // full range) and starts the 500 ms cursor blink. Throws an Exception* on failure.
    void Create(const RECT* rect, HWND parent, std::unique_ptr<AbstractZoomScale> zoomScale = nullptr);

    // Appends a layer, painted after those already there; the viewer owns it from now on.
    void AddArray(std::unique_ptr<Array> array);

    // Paints every layer and the cursor into `hdc` at once (any device context: the window's
    // own, or a memory DC of the window's size). Nothing without a window.
    void Paint(HDC hdc, const Rect* updateRect) override;

    // Paints everything now into a device context of the window (GetDC ... ReleaseDC).
    void Repaint();

    LRESULT HandleMessage(WindowMessage& message) override;

    AbstractZoomScale* zoomScale() const { return zoomScale_.get(); }

    DeviceContext AcquireWindowDC() override;
    void ReleaseWindowDC(DeviceContext hdc) override;
    void InvertRectangle(DeviceContext hdc, const Rect& r) override;
    void CaptureMouse() override;
    void ReleaseMouse() override;

  private:
    void Route(WindowMessage& message);

    // Destroyed in reverse: the layers first, then the zoom scale they may refer to.
    std::unique_ptr<AbstractZoomScale> zoomScale_;
    PointerList<Array> arrays_{5, true};
};

}  // namespace ArrayViewer
