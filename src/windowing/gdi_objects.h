#pragma once
// Move-only owners and guards for GDI objects and device contexts.

#include <windows.h>

#include <utility>

#include "base/unique_handle.h"

// An owned pen, font, brush or bitmap, deleted with DeleteObject.
template <typename GdiHandle>
struct GdiObjectTraits {
    using Handle = GdiHandle;
    static Handle None() { return nullptr; }
    static void Close(Handle h) { DeleteObject(h); }
};
template <typename Handle>
using GdiObject = UniqueHandle<GdiObjectTraits<Handle>>;

using OwnedPen = GdiObject<HPEN>;
using OwnedFont = GdiObject<HFONT>;
using OwnedBrush = GdiObject<HBRUSH>;
using OwnedBitmap = GdiObject<HBITMAP>;

// A stock object (GetStockObject): shared by the whole system and never deleted.
template <typename Handle>
class StockObject {
  public:
    explicit StockObject(int index) : handle_(static_cast<Handle>(GetStockObject(index))) {}
    Handle Get() const { return handle_; }

  private:
    Handle handle_;
};

// Selects an object into a device context and puts the previous one back at scope exit.
class SelectedObject {
  public:
    SelectedObject(HDC hdc, HGDIOBJ object) : hdc_(hdc), previous_(SelectObject(hdc, object)) {}
    SelectedObject(const SelectedObject&) = delete;
    SelectedObject& operator=(const SelectedObject&) = delete;
    ~SelectedObject() {
        if (previous_ != nullptr && previous_ != HGDI_ERROR) {
            SelectObject(hdc_, previous_);
        }
    }

  private:
    HDC hdc_;
    HGDIOBJ previous_;
};

// The device context of a window's client area, from GetDC to ReleaseDC.
class WindowDC {
  public:
    explicit WindowDC(HWND hwnd) : hwnd_(hwnd), hdc_(GetDC(hwnd)) {}
    WindowDC(WindowDC&& other) noexcept
        : hwnd_(std::exchange(other.hwnd_, nullptr)), hdc_(std::exchange(other.hdc_, nullptr)) {}
    WindowDC(const WindowDC&) = delete;
    WindowDC& operator=(const WindowDC&) = delete;
    WindowDC& operator=(WindowDC&&) = delete;
    ~WindowDC() {
        if (hdc_ != nullptr) {
            ReleaseDC(hwnd_, hdc_);
        }
    }

    HDC Get() const { return hdc_; }

  private:
    HWND hwnd_;
    HDC hdc_;
};

// A memory device context (CreateCompatibleDC), deleted with DeleteDC.
class MemoryDC {
  public:
    explicit MemoryDC(HDC compatibleWith = nullptr) : hdc_(CreateCompatibleDC(compatibleWith)) {}
    MemoryDC(MemoryDC&& other) noexcept : hdc_(std::exchange(other.hdc_, nullptr)) {}
    MemoryDC(const MemoryDC&) = delete;
    MemoryDC& operator=(const MemoryDC&) = delete;
    MemoryDC& operator=(MemoryDC&&) = delete;
    ~MemoryDC() {
        if (hdc_ != nullptr) {
            DeleteDC(hdc_);
        }
    }

    HDC Get() const { return hdc_; }

  private:
    HDC hdc_;
};

// The paint of one WM_PAINT, from BeginPaint to EndPaint (which validates the window even when
// the painting fails).
class PaintScope {
  public:
    explicit PaintScope(HWND hwnd) : hwnd_(hwnd) { BeginPaint(hwnd_, &paint_); }
    PaintScope(const PaintScope&) = delete;
    PaintScope& operator=(const PaintScope&) = delete;
    ~PaintScope() { EndPaint(hwnd_, &paint_); }

    const PAINTSTRUCT& paint() const { return paint_; }

  private:
    HWND hwnd_;
    PAINTSTRUCT paint_{};
};

// A memory device context drawing into a 32-bit top-down bitmap whose pixels can be read
// directly (0x00RRGGBB); for off-screen painting and for checking what was painted.
class PixelSurface {
  public:
    PixelSurface(int width, int height) : width_(width), height_(height) {
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = width;
        info.bmiHeader.biHeight = -height;
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        void* bits = nullptr;
        bitmap_ = OwnedBitmap(CreateDIBSection(dc_.Get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
        pixels_ = static_cast<const DWORD*>(bits);
        previous_ = SelectObject(dc_.Get(), bitmap_.Get());
    }
    PixelSurface(const PixelSurface&) = delete;
    PixelSurface& operator=(const PixelSurface&) = delete;
    ~PixelSurface() { SelectObject(dc_.Get(), previous_); }

    HDC Get() const { return dc_.Get(); }
    bool Valid() const { return pixels_ != nullptr; }
    // The colour at (x, y) as a COLORREF; GDI must have finished drawing (GdiFlush).
    COLORREF Pixel(int x, int y) const {
        DWORD p = pixels_[static_cast<size_t>(y) * width_ + x];
        return RGB((p >> 16) & 0xFF, (p >> 8) & 0xFF, p & 0xFF);
    }

  private:
    int width_;
    int height_;
    MemoryDC dc_;
    OwnedBitmap bitmap_;
    const DWORD* pixels_ = nullptr;
    HGDIOBJ previous_ = nullptr;
};
