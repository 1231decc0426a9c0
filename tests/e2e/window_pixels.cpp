#include "window_pixels.h"

#include "windowing/gdi_objects.h"

// The screen is read rather than the window itself: a device context of another process's
// window cannot be painted into, and the screen shows exactly what a user sees.
WindowPixels CaptureClientArea(HWND window) {
    RECT client{};
    if (!GetClientRect(window, &client) || client.right <= 0 || client.bottom <= 0) {
        return {};
    }
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    PixelSurface surface(client.right, client.bottom);
    WindowDC screen(nullptr);
    if (!surface.Valid() || screen.Get() == nullptr ||
        !BitBlt(surface.Get(), 0, 0, client.right, client.bottom, screen.Get(), origin.x, origin.y, SRCCOPY)) {
        return {};
    }
    GdiFlush();
    WindowPixels result;
    result.width = client.right;
    result.height = client.bottom;
    result.pixels.reserve(static_cast<size_t>(result.width) * result.height);
    for (int y = 0; y < result.height; ++y) {
        for (int x = 0; x < result.width; ++x) {
            result.pixels.push_back(surface.Pixel(x, y));
        }
    }
    return result;
}
