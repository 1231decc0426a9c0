// The graph's layers painted into 32-bit memory bitmaps: the axis background, labels and
// grid, the trace column by column, and the cursor line.

#include <gtest/gtest.h>

#include <vector>

#include "arrayviewer/continous_array_1d_win32.h"
#include "arrayviewer/scale_display_1d_win32.h"
#include "arrayviewer/values.h"
#include "windowing/gdi_objects.h"

namespace {

using namespace ArrayViewer;

constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kGrid = RGB(210, 210, 210);
constexpr COLORREF kTrace = RGB(0, 0, 70);
constexpr COLORREF kMarker = RGB(1, 2, 3);

struct FullRange final : IZoomScale1D {
    double GetStart() override { return start; }
    double GetEnd() override { return end; }
    double start = 0.0;
    double end = 1.0;
};

// A bitmap pre-filled with a colour that no layer paints, so that untouched pixels show.
class Canvas {
  public:
    Canvas(int width, int height) : surface(width, height), width(width), height(height) {
        RECT all{0, 0, width, height};
        OwnedBrush marker(CreateSolidBrush(kMarker));
        FillRect(surface.Get(), &all, marker.Get());
    }
    COLORREF At(int x, int y) {
        GdiFlush();
        return surface.Pixel(x, y);
    }
    int Count(const Rect& r, COLORREF colour) {
        int n = 0;
        for (int y = r.top; y < r.bottom; ++y) {
            for (int x = r.left; x < r.right; ++x) {
                n += At(x, y) == colour;
            }
        }
        return n;
    }

    PixelSurface surface;
    int width;
    int height;
};

TEST(ScaleDisplay1DPaint, PaintsWhiteBackgroundLabelsAndLightGreyGrid) {
    Canvas canvas(500, 200);
    ASSERT_TRUE(canvas.surface.Valid());
    FullRange zoom;
    LinearScalarTransformScale transform(0, 1);
    ScaleDisplay1D axis(&transform, &zoom, -40, 40);
    Rect area{0, 0, 500, 200};
    DrawContext context{canvas.surface.Get(), false, nullptr, &area};
    axis.Paint(context);
    EXPECT_TRUE(context.backgroundPainted);

    const AxisLayout& layout = axis.layout();
    ASSERT_GT(layout.leftMargin, 2);
    ASSERT_GT(layout.bottomMargin, 2);
    ASSERT_GT(layout.xLabelCount, 1);
    ASSERT_LT(layout.xLabelCount, 1000);
    ASSERT_GT(layout.yLabelCount, 1);
    Rect inner = axis.AdjustArea(area);
    EXPECT_EQ(inner, (Rect{layout.leftMargin, 0, 500, 200 - layout.bottomMargin}));
    EXPECT_EQ(canvas.Count(area, kMarker), 0) << "the whole area is painted";

    // A vertical grid line at every bottom label but the last (which falls on the right edge),
    // a horizontal one at every left label.
    for (int32_t k = 0; k + 1 < layout.xLabelCount; ++k) {
        int32_t x = layout.XLabelX(area, static_cast<double>(k) / (layout.xLabelCount - 1));
        EXPECT_EQ(canvas.At(x, 3), kGrid) << "label " << k;
        EXPECT_EQ(canvas.At(x, inner.bottom - 1), kGrid) << "label " << k;
    }
    for (int32_t k = 0; k < layout.yLabelCount; ++k) {
        double f = transform.Transform(YLabelValues(&transform, layout.yLabelCount)[k]);
        int32_t y = layout.YLabelY(area, f);
        if (y >= 0 && y < inner.bottom) {
            EXPECT_EQ(canvas.At(499, y), kGrid) << "label " << k;
        }
    }
    // Between the lines the plot is white; the strips hold text.
    int32_t x0 = layout.XLabelX(area, 0.0);
    int32_t x1 = layout.XLabelX(area, 1.0 / (layout.xLabelCount - 1));
    int32_t between = (x0 + x1) / 2;
    Rect column{between, 0, between + 1, inner.bottom};
    EXPECT_EQ(canvas.Count(column, kWhite) + canvas.Count(column, kGrid), inner.bottom);
    EXPECT_GT(canvas.Count(column, kWhite), inner.bottom / 2);
    Rect bottomStrip{0, inner.bottom + 1, 500, 200};
    Rect leftStrip{0, 0, layout.leftMargin, inner.bottom};
    EXPECT_GT(canvas.Count(bottomStrip, kWhite), 0);
    EXPECT_LT(canvas.Count(bottomStrip, kWhite), bottomStrip.Width() * bottomStrip.Height());
    EXPECT_LT(canvas.Count(leftStrip, kWhite), leftStrip.Width() * leftStrip.Height());
}

TEST(ScaleDisplay1DPaint, DrawsNothingInAnAreaNarrowerThanItsLeftMargin) {
    Canvas canvas(200, 200);
    FullRange zoom;
    LinearScalarTransformScale transform(0, 1);
    ScaleDisplay1D axis(&transform, &zoom, -40, 40);
    for (Rect area : {Rect{0, 0, 10, 200}, Rect{0, 0, 200, 5}}) {
        DrawContext context{canvas.surface.Get(), false, nullptr, &area};
        axis.Paint(context);
        EXPECT_FALSE(context.backgroundPainted);
        EXPECT_EQ(canvas.Count(Rect{0, 0, 200, 200}, kMarker), 200 * 200);
    }
}

TEST(ScaleDisplay1DPaint, WithoutATransformThereAreNoLeftLabels) {
    Canvas canvas(300, 120);
    FullRange zoom;
    ScaleDisplay1D axis(nullptr, &zoom, -40, 40);
    Rect area{0, 0, 300, 120};
    DrawContext context{canvas.surface.Get(), false, nullptr, &area};
    axis.Paint(context);
    const AxisLayout& layout = axis.layout();
    EXPECT_EQ(layout.leftMargin, 2);
    EXPECT_EQ(canvas.Count(Rect{2, 0, 300, 120 - layout.bottomMargin}, kGrid),
              (layout.xLabelCount - 1) * (120 - layout.bottomMargin))
        << "only the vertical grid lines";
}

// The trace colour fills each column's run from the segment computation, nothing else.
void ExpectTraceWhereComputed(Canvas& canvas, const ContinousArray1D& trace, const Rect& area, COLORREF colour) {
    const TraceSegments& s = trace.segments();
    ASSERT_EQ(s.columns(), area.Width());
    for (int32_t c = 0; c < s.columns(); ++c) {
        int32_t x = area.left + c;
        int32_t first = s.trace()[c].to.y + 1;
        int32_t last = s.trace()[c].from.y;
        for (int32_t y = area.top; y < area.bottom; ++y) {
            bool onTrace = y >= first && y <= last;
            if (onTrace) {
                ASSERT_EQ(canvas.At(x, y), colour) << x << "," << y;
            } else {
                ASSERT_NE(canvas.At(x, y), colour) << x << "," << y;
            }
        }
    }
}

class TracePaintTest : public ::testing::Test {
  protected:
    TracePaintTest() : series(values.data(), 400), trace(&zoom, &transform, &series, 0.001) {
        for (int i = 0; i < 400; ++i) {
            values[i] = (i % 50) * (i < 200 ? 1.0 : -0.5);
        }
    }

    // Paints the trace into `area` of the canvas; returns the context's backgroundPainted.
    bool PaintInto(Canvas& canvas, Rect area, bool backgroundPainted) {
        DrawContext context{canvas.surface.Get(), backgroundPainted, nullptr, &area};
        trace.Paint(context);
        return context.backgroundPainted;
    }

    std::vector<double> values = std::vector<double>(400);
    ScalarValues1D<double> series;
    FullRange zoom;
    LinearScalarTransformScale transform{0, 1};
    ContinousArray1D trace;
};

TEST_F(TracePaintTest, PaintsTheTraceAndItsOwnBackgroundColumnByColumn) {
    Canvas canvas(160, 90);
    Rect area{10, 5, 150, 85};
    EXPECT_TRUE(PaintInto(canvas, area, false));
    ExpectTraceWhereComputed(canvas, trace, area, kTrace);
    int traced = canvas.Count(area, kTrace);
    EXPECT_EQ(canvas.Count(area, kWhite) + traced, area.Width() * area.Height());
    EXPECT_EQ(canvas.At(5, 40), kMarker) << "nothing outside the area";
}

TEST_F(TracePaintTest, OverAPaintedBackgroundOnlyTheTraceIsDrawn) {
    Canvas canvas(160, 90);
    Rect area{0, 0, 160, 90};
    zoom.start = 0.25;
    zoom.end = 0.75;
    PaintInto(canvas, area, true);
    ExpectTraceWhereComputed(canvas, trace, area, kTrace);
    EXPECT_EQ(canvas.Count(area, kWhite), 0);

    trace.SetHighlighted(true);
    PaintInto(canvas, area, true);
    ExpectTraceWhereComputed(canvas, trace, area, RGB(255, 0, 255));
}

TEST_F(TracePaintTest, AStripOfFiftyRowsLeavesTheRestAlone) {
    Canvas canvas(100, 200);
    Rect area{0, 0, 100, 200};
    trace.SetStripHeight(50);
    EXPECT_FALSE(PaintInto(canvas, area, false)) << "a strip is not the whole background";
    ExpectTraceWhereComputed(canvas, trace, Rect{0, 0, 100, 50}, kTrace);
    // The visible minimum lies on row 50, just below the strip; nothing goes further.
    EXPECT_EQ(canvas.Count(Rect{0, 50, 100, 51}, kWhite), 0);
    EXPECT_EQ(canvas.Count(Rect{0, 51, 100, 200}, kMarker), 100 * 149);
    EXPECT_EQ(trace.AdjustArea(area), (Rect{0, 50, 100, 200}));
}

TEST_F(TracePaintTest, AnAreaWithoutWidthDrawsNothing) {
    Canvas canvas(50, 50);
    EXPECT_FALSE(PaintInto(canvas, Rect{20, 0, 20, 50}, false));
    EXPECT_EQ(canvas.Count(Rect{0, 0, 50, 50}, kMarker), 50 * 50);
}

class CountingListener final : public IArrayHoverListener {
  public:
    void OnArrayHover(Array* array, HoverData* data) override { ++calls; }
    int calls = 0;
};

TEST_F(TracePaintTest, AMouseMoveOverTheTraceIsConsumedOnlyWithAListener) {
    Canvas canvas(100, 100);
    PaintInto(canvas, Rect{0, 0, 100, 100}, false);
    const Segment& column = trace.segments().trace()[30];
    WindowMessage over{WM_MOUSEMOVE, 0, MAKELPARAM(30, column.from.y)};
    WindowMessage off{WM_MOUSEMOVE, 0, MAKELPARAM(30, column.to.y - 1)};
    EXPECT_FALSE(trace.ProcessInput(over));
    CountingListener listener;
    trace.SetHoverListener(&listener, nullptr);
    EXPECT_TRUE(trace.ProcessInput(over));
    EXPECT_FALSE(trace.ProcessInput(off));
    EXPECT_EQ(listener.calls, 1);
}

// Painting must hand back every object it selected.
TEST_F(TracePaintTest, LayersRestoreTheDeviceContextsObjects) {
    Canvas canvas(200, 100);
    HDC dc = canvas.surface.Get();
    HGDIOBJ pen = GetCurrentObject(dc, OBJ_PEN);
    HGDIOBJ font = GetCurrentObject(dc, OBJ_FONT);
    Rect area{0, 0, 200, 100};
    DrawContext context{dc, false, nullptr, &area};
    ScaleDisplay1D axis(&transform, &zoom, -40, 40);
    axis.Paint(context);
    trace.Paint(context);
    context.backgroundPainted = false;
    trace.Paint(context);
    EXPECT_EQ(GetCurrentObject(dc, OBJ_PEN), pen);
    EXPECT_EQ(GetCurrentObject(dc, OBJ_FONT), font);
}

}  // namespace
