#pragma once
// The bases through which the viewer talks to its layers (Array) and its zoom scale
// (AbstractZoomScale), the interfaces through which layers read the visible range, and
// EmptyZoomScale, the fixed full range.

#include <cstdint>

#include "arrayviewer/draw_context.h"
#include "base/window_message.h"

namespace ArrayViewer {

// Marker bases: they declare no operations.
class IUserInputProcessor {};
class ICursorPainter {};

// The viewer an Array or zoom scale is attached to; attached once, by the viewer that owns it.
class ViewerLink {
  public:
    void Attach(IViewer* viewer);
    void Detach(IViewer* viewer);
    IViewer* viewer() const { return viewer_; }

  private:
    IViewer* viewer_ = nullptr;
};

// One layer of the graph.
class Array : public IUserInputProcessor {
  public:
    Array() = default;
    Array(const Array&) = delete;
    Array& operator=(const Array&) = delete;
    virtual ~Array() = default;
    virtual void Attach(IViewer* viewer) { link_.Attach(viewer); }
    virtual void Detach(IViewer* viewer) { link_.Detach(viewer); }
    virtual void Paint(DrawContext& context) = 0;
    virtual void SetBounds(int32_t left, int32_t top, int32_t right, int32_t bottom) {}
    // The area left for the layers after this one.
    virtual Rect AdjustArea(const Rect& area) { return area; }
    // True when the layer consumed the message.
    virtual bool ProcessInput(WindowMessage& message) { return false; }

    IViewer* viewer() const { return link_.viewer(); }

  private:
    ViewerLink link_;
};

// The base of every zoom scale: the same operations as Array, then the cursor operations.
class AbstractZoomScale : public IUserInputProcessor, public ICursorPainter {
  public:
    AbstractZoomScale() = default;
    AbstractZoomScale(const AbstractZoomScale&) = delete;
    AbstractZoomScale& operator=(const AbstractZoomScale&) = delete;
    virtual ~AbstractZoomScale() = default;
    virtual void Attach(IViewer* viewer) { link_.Attach(viewer); }
    virtual void Detach(IViewer* viewer) { link_.Detach(viewer); }
    virtual void Paint(DrawContext& context) {}
    virtual void SetBounds(int32_t left, int32_t top, int32_t right, int32_t bottom) {}
    virtual Rect AdjustArea(const Rect& area) { return area; }
    virtual bool ProcessInput(WindowMessage& message) { return false; }
    virtual void InvertCursor(DeviceContext hdc, const Rect& area) {}
    virtual void HideCursor(DeviceContext hdc, const Rect& area) {}
    virtual void ForgetCursor() {}

    IViewer* viewer() const { return link_.viewer(); }

  private:
    ViewerLink link_;
};

// The visible part of the series, as fractions from 0 (its first value) to 1 (its end).
class IZoomScale1D {
  public:
    virtual double GetStart() = 0;
    virtual double GetEnd() = 0;

  protected:
    ~IZoomScale1D() = default;
};

class IZoomScale2D {
  public:
    virtual double GetStartX() = 0;
    virtual double GetStartY() = 0;
    virtual double GetEndX() = 0;
    virtual double GetEndY() = 0;

  protected:
    ~IZoomScale2D() = default;
};

// The whole series, always: no cursor, no input.
class EmptyZoomScale final : public AbstractZoomScale, public IZoomScale1D, public IZoomScale2D {
  public:
    double GetStart() override { return 0.0; }
    double GetEnd() override { return 1.0; }
    double GetStartX() override { return 0.0; }
    double GetStartY() override { return 0.0; }
    double GetEndX() override { return 1.0; }
    double GetEndY() override { return 1.0; }
};

}  // namespace ArrayViewer
