// Times one full repaint of the graph as the main window builds it (axis, then the trace of a
// 400-value histogram, then the cursor): into a window-sized memory bitmap, and into the
// window's own device context as the receiver display does 20 times a second.
//
// Usage: veltrane_graph_bench [repaints]   (default 2000)

#include <windows.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "arrayviewer/array_viewer_win32.h"
#include "arrayviewer/continous_array_1d_win32.h"
#include "arrayviewer/horizontal_zoom_scale.h"
#include "arrayviewer/scale_display_1d_win32.h"
#include "arrayviewer/values.h"
#include "base/errors.h"
#include "windowing/gdi_objects.h"

namespace {

// The graph's place in the dialog: 570 x 132 dialog units at the usual 8-point dialog font.
constexpr int kGraphWidth = 855;
constexpr int kGraphHeight = 215;

double Now() {
    LARGE_INTEGER counter;
    LARGE_INTEGER frequency;
    QueryPerformanceCounter(&counter);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(counter.QuadPart) / frequency.QuadPart * 1e6;
}

struct Figures {
    double mean;
    double median;
    double p99;
};

// Runs `paint` `count` times after a short warm-up and returns the times in microseconds.
template <typename Paint>
Figures Time(int count, Paint paint) {
    for (int i = 0; i < 20; ++i) {
        paint(i);
    }
    std::vector<double> times;
    times.reserve(count);
    for (int i = 0; i < count; ++i) {
        double start = Now();
        paint(i);
        GdiFlush();
        times.push_back(Now() - start);
    }
    std::sort(times.begin(), times.end());
    double sum = 0;
    for (double t : times) {
        sum += t;
    }
    return Figures{sum / count, times[count / 2], times[count * 99 / 100]};
}

void Report(const char* what, const Figures& f) {
    std::printf("%-44s mean %8.1f us   median %8.1f us   99th %8.1f us\n", what, f.mean, f.median, f.p99);
}

// A decaying histogram with a peak near the middle, changed a little before every paint, as
// the receiver thread does between two displays.
void Update(std::vector<double>& histogram, int round) {
    for (size_t i = 0; i < histogram.size(); ++i) {
        double d = (static_cast<double>(i) - 200.0 - (round % 7)) / 12.0;
        StoreShared(histogram[i], 0.6 * std::exp(-d * d) + 0.001 * ((i * 31 + round) % 17));
    }
}

int Run(int count) {
    HWND parent = CreateWindowExA(0, "STATIC", "graph bench", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, kGraphWidth + 40,
                                  kGraphHeight + 80, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    std::vector<double> histogram(400);
    ArrayViewer::ScalarValues1D<double> series(histogram.data(), 400);
    ArrayViewer::LinearScalarTransformScale transform(0, 1);
    ArrayViewer::ArrayViewer graph;
    RECT rect{10, 10, 10 + kGraphWidth, 10 + kGraphHeight};
    auto zoom = std::make_unique<ArrayViewer::HorizontalZoomScale>();
    ArrayViewer::HorizontalZoomScale* zoomScale = zoom.get();
    graph.Create(&rect, parent, std::move(zoom));
    graph.AddArray(std::make_unique<ArrayViewer::ScaleDisplay1D>(&transform, zoomScale, -40, 40));
    graph.AddArray(std::make_unique<ArrayViewer::ContinousArray1D>(zoomScale, &transform, &series, 0.001));

    RECT client;
    GetClientRect(graph.hwnd, &client);
    std::printf("graph client area %ld x %ld, 400 values, %d repaints each\n", client.right, client.bottom, count);
    PixelSurface surface(client.right, client.bottom);
    if (!surface.Valid()) {
        std::printf("no memory bitmap\n");
        return 1;
    }
    Report("full repaint into a memory bitmap", Time(count, [&](int i) {
               Update(histogram, i);
               graph.Paint(surface.Get(), nullptr);
           }));
    Report("full repaint into the window (GetDC)", Time(count, [&](int i) {
               Update(histogram, i);
               graph.Repaint();
           }));
    zoomScale->SetVisibleRange(0.25, 0.75);
    Report("zoomed to half, into a memory bitmap", Time(count, [&](int i) {
               Update(histogram, i);
               graph.Paint(surface.Get(), nullptr);
           }));
    DestroyWindow(parent);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    int count = argc > 1 ? std::max(1, std::atoi(argv[1])) : 2000;
    try {
        return Run(count);
    } catch (Exception* e) {
        ExceptionOwner owner(e);
        std::printf("%s\n", ExceptionText(*e).c_str());
        return 1;
    }
}
