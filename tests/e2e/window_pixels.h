#pragma once
// The pixels of another program's window as they are on the screen.

#include <windows.h>

#include <vector>

struct WindowPixels {
    int width = 0;
    int height = 0;
    std::vector<COLORREF> pixels;  // row by row from the top

    COLORREF At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

// Copies the window's client area from the screen; it must be visible and uncovered. Empty
// (width 0) on failure.
WindowPixels CaptureClientArea(HWND window);
