#pragma once
// HorizontalZoomScale: the interactive horizontal range of the graph (wheel and key zoom,
// drag and key pan) and its blinking cursor line.

#include <cstdint>

#include "arrayviewer/layer.h"
#include "arrayviewer/pointer_list.h"

namespace ArrayViewer {

// Told where the cursor now stands (a fraction of the series).
class ICursorListener {
  public:
    virtual void OnCursorMoved(IViewer* viewer, double cursorPosition) = 0;

  protected:
    ~ICursorListener() = default;
};

class HorizontalZoomScale final : public AbstractZoomScale, public IZoomScale1D, public IZoomScale2D {
  public:
    HorizontalZoomScale();

    void Paint(DrawContext& context) override;
    bool ProcessInput(WindowMessage& message) override;
    void InvertCursor(DeviceContext hdc, const Rect& area) override;
    void HideCursor(DeviceContext hdc, const Rect& area) override;
    void ForgetCursor() override;

    void Zoom(double factor);
    void Pan(double fraction);
    void SetVisibleRange(double start, double end);
    void MoveCursor(double position);

    // Other zoom scales that take over this one's range after every zoom and pan (not owned).
    void AddFollower(HorizontalZoomScale* follower);
    void SetCursorListener(ICursorListener* listener) { cursorListener_ = listener; }

    double GetStart() override { return visibleStart_; }
    double GetEnd() override { return visibleEnd_; }
    double GetStartX() override { return visibleStart_; }
    double GetStartY() override { return 0.0; }
    double GetEndX() override { return visibleEnd_; }
    double GetEndY() override { return 1.0; }

    double cursorPosition() const { return cursorPosition_; }
    bool dragging() const { return dragging_; }
    bool cursorShown() const { return cursorShown_; }
    const Rect& plotArea() const { return plotArea_; }
    // The pixel column of the cursor line within the plot area of the last paint.
    int32_t CursorColumn() const;

  private:
    void OnKeyDown(int8_t key);
    void OnMouseMove(int32_t x, int32_t y);
    void OnLButtonDown(int32_t x, int32_t y);
    void ClampRange();
    void RepaintWithFollowers();
    void NotifyCursorListener();

    double visibleStart_ = 0.0;
    double visibleEnd_ = 1.0;
    double cursorPosition_ = 0.5;
    bool dragging_ = false;
    bool cursorShown_ = false;
    int32_t lastMouseX_ = 0;
    int32_t lastMouseY_ = 0;
    Rect plotArea_{};
    PointerList<HorizontalZoomScale> followers_{5, false};
    ICursorListener* cursorListener_ = nullptr;
};

}  // namespace ArrayViewer
