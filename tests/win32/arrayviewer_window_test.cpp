// The ArrayViewer window: creation, painting the whole stack into a memory bitmap, the
// cursor blink, and the mouse and keys routed to its layers and zoom scale.

#include "arrayviewer/array_viewer_win32.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "../unit/arrayviewer_test_support.h"
#include "arrayviewer/continous_array_1d_win32.h"
#include "arrayviewer/horizontal_zoom_scale.h"
#include "arrayviewer/scale_display_1d_win32.h"
#include "arrayviewer/values.h"
#include "base/errors.h"
#include "message_box_watcher.h"
#include "windowing/gdi_objects.h"

namespace {

using ArrayViewerTest::ThrownText;

using namespace ArrayViewer;

constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kTrace = RGB(0, 0, 70);

COLORREF Inverted(COLORREF c) {
    return RGB(255 - GetRValue(c), 255 - GetGValue(c), 255 - GetBValue(c));
}

void PumpMessagesFor(DWORD ms) {
    DWORD start = GetTickCount();
    while (GetTickCount() - start < ms) {
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        Sleep(5);
    }
}

// A plain top-level window to hold the graph, as the dialog does in the program.
class Parent {
  public:
    Parent()
        : hwnd(CreateWindowExA(0,
                               "STATIC",
                               "graph test",
                               WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                               0,
                               0,
                               700,
                               400,
                               nullptr,
                               nullptr,
                               GetModuleHandleA(nullptr),
                               nullptr)) {}
    Parent(const Parent&) = delete;
    Parent& operator=(const Parent&) = delete;
    ~Parent() { DestroyWindow(hwnd); }
    HWND hwnd;
};

// A layer that records the messages offered to it and may consume one kind.
class ProbeLayer final : public Array {
  public:
    explicit ProbeLayer(int* deaths = nullptr) : deaths_(deaths) {}
    ~ProbeLayer() override {
        if (deaths_ != nullptr) {
            ++*deaths_;
        }
    }
    void Paint(DrawContext& context) override {
        ++paints;
        if (failPaint) {
            ThrowFixed("paint failed");
        }
    }
    bool ProcessInput(WindowMessage& message) override {
        offered.push_back(message.message);
        return message.message == consumes;
    }
    int paints = 0;
    bool failPaint = false;
    UINT consumes = 0;
    std::vector<UINT> offered;

  private:
    int* deaths_;
};

// The graph as the main window builds it: the axis, then the trace over a 400-value series.
class GraphTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (int i = 0; i < 400; ++i) {
            histogram[i] = i == 200 ? 0.9 : 0.01 * (i % 7);
        }
        RECT rect{12, 20, 512, 220};
        auto owned = std::make_unique<HorizontalZoomScale>();
        zoom = owned.get();
        viewer.Create(&rect, parent.hwnd, std::move(owned));
        viewer.AddArray(std::make_unique<ScaleDisplay1D>(&transform, zoom, -40, 40));
        auto ownedTrace = std::make_unique<ContinousArray1D>(zoom, &transform, &series, 0.001);
        trace = ownedTrace.get();
        viewer.AddArray(std::move(ownedTrace));
    }

    WindowMessage Message(UINT message, WPARAM wParam, LPARAM lParam) { return WindowMessage{message, wParam, lParam}; }
    void Send(UINT message, WPARAM wParam, LPARAM lParam = 0) { SendMessageA(viewer.hwnd, message, wParam, lParam); }
    Rect Client() {
        RECT r;
        GetClientRect(viewer.hwnd, &r);
        return Rect{r.left, r.top, r.right, r.bottom};
    }

    Parent parent;
    std::vector<double> histogram = std::vector<double>(400);
    ScalarValues1D<double> series{histogram.data(), 400};
    LinearScalarTransformScale transform{0, 1};
    ArrayViewer::ArrayViewer viewer;
    HorizontalZoomScale* zoom = nullptr;
    ContinousArray1D* trace = nullptr;
};

TEST_F(GraphTest, SitsOverItsRectangleAsABorderedChild) {
    ASSERT_NE(viewer.hwnd, nullptr);
    EXPECT_EQ(GetParent(viewer.hwnd), parent.hwnd);
    LONG style = GetWindowLongA(viewer.hwnd, GWL_STYLE);
    EXPECT_EQ(style & (WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP),
              static_cast<LONG>(WS_CHILD | WS_VISIBLE | WS_BORDER | WS_TABSTOP));
    RECT r;
    GetWindowRect(viewer.hwnd, &r);
    MapWindowPoints(nullptr, parent.hwnd, reinterpret_cast<POINT*>(&r), 2);
    EXPECT_EQ(r.left, 12);
    EXPECT_EQ(r.top, 20);
    EXPECT_EQ(r.right, 512);
    EXPECT_EQ(r.bottom, 220);
    char title[32] = {};
    GetWindowTextA(viewer.hwnd, title, sizeof title);
    EXPECT_STREQ(title, "ArrayViewer");
    EXPECT_EQ(GetClassLongPtrA(viewer.hwnd, GCLP_HBRBACKGROUND), 0);
    EXPECT_TRUE(GetClassLongA(viewer.hwnd, GCL_STYLE) & CS_DBLCLKS);
    EXPECT_EQ(ThrownText([&] { viewer.Create(nullptr, parent.hwnd); }), "window is already created");
}

TEST_F(GraphTest, PaintsAxisTraceAndCursorIntoAMemoryBitmap) {
    Rect client = Client();
    PixelSurface surface(client.Width(), client.Height());
    ASSERT_TRUE(surface.Valid());
    viewer.Paint(surface.Get(), nullptr);
    GdiFlush();

    Rect plot = zoom->plotArea();
    EXPECT_EQ(plot.top, 0);
    EXPECT_EQ(plot.right, client.right);
    EXPECT_GT(plot.left, 0);
    EXPECT_LT(plot.bottom, client.bottom);
    EXPECT_TRUE(zoom->cursorShown());

    // The trace where the segment computation put it, except in the cursor's column.
    const TraceSegments& s = trace->segments();
    ASSERT_EQ(s.columns(), plot.Width());
    int32_t cursor = zoom->CursorColumn();
    EXPECT_EQ(cursor, plot.left + plot.Width() / 2);
    for (int32_t c = 0; c < s.columns(); ++c) {
        int32_t x = plot.left + c;
        int32_t y = s.trace()[c].from.y;
        if (x != cursor && y >= plot.top && y < plot.bottom) {
            EXPECT_EQ(surface.Pixel(x, y), kTrace) << x << "," << y;
        }
    }
    // The peak of bin 200 reaches the top of the plot.
    EXPECT_EQ(s.trace()[plot.Width() / 2].to.y, plot.top);

    // The cursor line inverts its column; inverting again restores the picture the layers
    // painted, in which the column shows the trace like any other.
    std::vector<COLORREF> shown;
    for (int32_t y = plot.top; y < plot.bottom; ++y) {
        shown.push_back(surface.Pixel(cursor, y));
    }
    zoom->InvertCursor(surface.Get(), client);
    GdiFlush();
    EXPECT_FALSE(zoom->cursorShown());
    for (int32_t y = plot.top; y < plot.bottom; ++y) {
        ASSERT_EQ(surface.Pixel(cursor, y), Inverted(shown[y - plot.top])) << y;
    }
    EXPECT_EQ(surface.Pixel(cursor, s.trace()[cursor - plot.left].from.y), kTrace);
    zoom->InvertCursor(surface.Get(), client);
    GdiFlush();
    EXPECT_EQ(surface.Pixel(cursor, plot.bottom - 1), shown.back());
}

TEST_F(GraphTest, TheWheelAndKeysZoomAndPanAfterAClickGaveItTheFocus) {
    PixelSurface surface(Client().Width(), Client().Height());
    viewer.Paint(surface.Get(), nullptr);
    Rect plot = zoom->plotArea();

    Send(WM_MOUSEWHEEL, MAKEWPARAM(0, WHEEL_DELTA));
    EXPECT_NEAR(zoom->GetStart(), 0.15, 1e-12);
    EXPECT_NEAR(zoom->GetEnd(), 0.85, 1e-12);
    Send(WM_MOUSEWHEEL, MAKEWPARAM(0, 0));
    EXPECT_NEAR(zoom->GetStart(), 0.15, 1e-12);

    int32_t middle = (plot.left + plot.right) / 2;
    Send(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(middle, 10));
    EXPECT_EQ(GetFocus(), viewer.hwnd);
    EXPECT_EQ(GetCapture(), viewer.hwnd);
    Send(WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(middle + 20, 10));
    EXPECT_LT(zoom->GetStart(), 0.15);
    Send(WM_LBUTTONUP, 0, MAKELPARAM(middle + 20, 10));
    EXPECT_EQ(GetCapture(), nullptr);
    EXPECT_FALSE(zoom->dragging());

    double start = zoom->GetStart();
    Send(WM_KEYDOWN, 'D');
    EXPECT_NEAR(zoom->GetStart(), start + 0.7 * 0.03, 1e-12);
    Send(WM_KEYDOWN, VK_LEFT);
    EXPECT_NEAR(zoom->GetStart(), start, 1e-12);
    Send(WM_KEYDOWN, 'W');
    EXPECT_NEAR(zoom->GetEnd() - zoom->GetStart(), 0.49, 1e-12);
    Send(WM_KEYDOWN, VK_DOWN);
    EXPECT_GT(zoom->GetEnd() - zoom->GetStart(), 0.9);
}

// In a dialog the arrow keys and letters reach the focused graph instead of moving the focus
// or triggering mnemonics.
TEST(ArrayViewerWindow, TakesTheArrowKeysInADialog) {
    alignas(DWORD) WORD words[sizeof(DLGTEMPLATE) / sizeof(WORD) + 3] = {};
    auto* dialogTemplate = reinterpret_cast<DLGTEMPLATE*>(words);
    dialogTemplate->style = WS_POPUP | WS_CAPTION | WS_VISIBLE;
    dialogTemplate->cx = 300;
    dialogTemplate->cy = 150;
    HWND dialog = CreateDialogIndirectParamA(
        GetModuleHandleA(nullptr), dialogTemplate, nullptr, [](HWND, UINT, WPARAM, LPARAM) -> INT_PTR { return FALSE; },
        0);
    ASSERT_NE(dialog, nullptr);
    {
        ArrayViewer::ArrayViewer viewer;
        RECT rect{10, 10, 210, 110};
        auto owned = std::make_unique<HorizontalZoomScale>();
        HorizontalZoomScale* zoom = owned.get();
        viewer.Create(&rect, dialog, std::move(owned));
        EXPECT_EQ(SendMessageA(viewer.hwnd, WM_GETDLGCODE, 0, 0), DLGC_WANTARROWS | DLGC_WANTCHARS);
        SetFocus(viewer.hwnd);
        zoom->SetVisibleRange(0.15, 0.85);
        PostMessageA(viewer.hwnd, WM_KEYDOWN, VK_RIGHT, 0);
        PostMessageA(viewer.hwnd, WM_KEYDOWN, VK_UP, 0);
        for (int i = 0; i < 20; ++i) {
            MSG msg;
            while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
                if (!IsDialogMessageA(dialog, &msg)) {
                    TranslateMessage(&msg);
                    DispatchMessageA(&msg);
                }
            }
            Sleep(5);
        }
        EXPECT_EQ(GetFocus(), viewer.hwnd);
        EXPECT_NEAR(zoom->GetEnd() - zoom->GetStart(), 0.49, 1e-12);
        EXPECT_NEAR(zoom->cursorPosition(), 0.521, 1e-12);
    }
    DestroyWindow(dialog);
}

TEST_F(GraphTest, TheCursorBlinksOnTheTimer) {
    PixelSurface surface(Client().Width(), Client().Height());
    viewer.Paint(surface.Get(), nullptr);
    EXPECT_TRUE(zoom->cursorShown());
    Send(WM_TIMER, 0);
    EXPECT_FALSE(zoom->cursorShown());
    Send(WM_TIMER, 0);
    EXPECT_TRUE(zoom->cursorShown());
    Send(WM_TIMER, 5);
    EXPECT_TRUE(zoom->cursorShown()) << "other timers do not blink";

    // The window's own timer flips the line twice a second.
    int flips = 0;
    bool shown = zoom->cursorShown();
    for (int i = 0; i < 60 && flips < 2; ++i) {
        PumpMessagesFor(50);
        if (zoom->cursorShown() != shown) {
            shown = !shown;
            ++flips;
        }
    }
    EXPECT_EQ(flips, 2);
}

TEST_F(GraphTest, WmPaintRepaintsAndValidates) {
    InvalidateRect(viewer.hwnd, nullptr, FALSE);
    zoom->ForgetCursor();
    UpdateWindow(viewer.hwnd);
    RECT update;
    EXPECT_FALSE(GetUpdateRect(viewer.hwnd, &update, FALSE));
    EXPECT_TRUE(zoom->cursorShown());
    EXPECT_GT(zoom->plotArea().Width(), 0);
}

TEST_F(GraphTest, ALayerThatConsumesAMessageKeepsItFromTheRest) {
    auto owned = std::make_unique<ProbeLayer>();
    ProbeLayer* probe = owned.get();
    viewer.AddArray(std::move(owned));
    probe->consumes = WM_MOUSEWHEEL;
    Send(WM_MOUSEWHEEL, MAKEWPARAM(0, WHEEL_DELTA));
    EXPECT_EQ(zoom->GetStart(), 0.0);
    Send(WM_KEYDOWN, 'W');
    EXPECT_NEAR(zoom->GetStart(), 0.15, 1e-12);
    EXPECT_EQ(probe->offered, (std::vector<UINT>{WM_MOUSEWHEEL, WM_KEYDOWN}));
}

TEST_F(GraphTest, AnErrorWhilePaintingIsShownAndTheWindowStaysValid) {
    auto owned = std::make_unique<ProbeLayer>();
    ProbeLayer* probe = owned.get();
    viewer.AddArray(std::move(owned));
    probe->failPaint = true;
    InvalidateRect(viewer.hwnd, nullptr, FALSE);
    MessageBoxWatcher watcher;
    UpdateWindow(viewer.hwnd);
    SeenBox box = watcher.Result();
    EXPECT_EQ(box.text.rfind("paint failed", 0), 0u) << box.text;
    RECT update;
    EXPECT_FALSE(GetUpdateRect(viewer.hwnd, &update, FALSE));
    EXPECT_EQ(probe->paints, 1);
}

TEST(ArrayViewerWindow, WithoutAZoomScaleShowsEverythingAndIgnoresInput) {
    Parent parent;
    ArrayViewer::ArrayViewer viewer;
    viewer.Create(nullptr, parent.hwnd);
    auto* zoom = dynamic_cast<EmptyZoomScale*>(viewer.zoomScale());
    ASSERT_NE(zoom, nullptr);
    RECT r;
    GetWindowRect(viewer.hwnd, &r);
    EXPECT_EQ(r.right - r.left, 0);
    EXPECT_EQ(r.bottom - r.top, 0);
    SendMessageA(viewer.hwnd, WM_MOUSEWHEEL, MAKEWPARAM(0, WHEEL_DELTA), 0);
    SendMessageA(viewer.hwnd, WM_KEYDOWN, 'D', 0);
    EXPECT_EQ(zoom->GetStart(), 0.0);
    EXPECT_EQ(zoom->GetEnd(), 1.0);
}

// With no layer to paint the background the viewer fills it, and the cursor drawn after the
// fill stays visible.
TEST(ArrayViewerWindow, FillsAnUnpaintedBackgroundBeforeTheCursor) {
    Parent parent;
    ArrayViewer::ArrayViewer viewer;
    RECT rect{0, 0, 102, 52};
    auto owned = std::make_unique<HorizontalZoomScale>();
    HorizontalZoomScale* zoom = owned.get();
    viewer.Create(&rect, parent.hwnd, std::move(owned));
    PixelSurface surface(100, 50);
    viewer.Paint(surface.Get(), nullptr);
    GdiFlush();
    EXPECT_EQ(surface.Pixel(10, 10), kWhite);
    EXPECT_EQ(surface.Pixel(zoom->CursorColumn(), 10), RGB(0, 0, 0));
    EXPECT_EQ(zoom->CursorColumn(), 50);
}

TEST(ArrayViewerWindow, DeletesItsLayersAndUnregistersItsClass) {
    Parent parent;
    int deaths = 0;
    std::string className;
    {
        ArrayViewer::ArrayViewer viewer;
        viewer.Create(nullptr, parent.hwnd);
        className = viewer.className;
        viewer.AddArray(std::make_unique<ProbeLayer>(&deaths));
        viewer.AddArray(std::make_unique<ProbeLayer>(&deaths));
        DestroyWindow(viewer.hwnd);
        EXPECT_EQ(viewer.hwnd, nullptr);
    }
    EXPECT_EQ(deaths, 2);
    WNDCLASSA info;
    EXPECT_FALSE(GetClassInfoA(GetModuleHandleA(nullptr), className.c_str(), &info));
}

}  // namespace
