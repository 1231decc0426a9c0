// The interactive zoom scale: zooming, panning, clicking and dragging, and the cursor line,
// driven with the window messages the viewer routes to it.

#include <gtest/gtest.h>

#include <cmath>

#include "arrayviewer/horizontal_zoom_scale.h"
#include "arrayviewer/input_messages.h"
#include "arrayviewer_test_support.h"

namespace {

using namespace ArrayViewer;
using ArrayViewerTest::FakeViewer;
using ArrayViewerTest::ThrownText;

intptr_t MousePosition(int32_t x, int32_t y) {
    return static_cast<intptr_t>((static_cast<uint32_t>(y & 0xFFFF) << 16) | static_cast<uint32_t>(x & 0xFFFF));
}

class ZoomScaleTest : public ::testing::Test {
  protected:
    void SetUp() override {
        zoom.Attach(&viewer);
        SetPlotArea(Rect{40, 0, 240, 100});
    }

    void SetPlotArea(Rect area) {
        plot = area;
        DrawContext context{viewer.windowDC, true, nullptr, &plot};
        zoom.Paint(context);
    }

    bool Send(uint32_t message, uintptr_t wParam, intptr_t lParam = 0) {
        WindowMessage m{message, wParam, lParam};
        return zoom.ProcessInput(m);
    }
    void Wheel(int16_t delta) { Send(Input::kMouseWheel, static_cast<uintptr_t>(static_cast<uint16_t>(delta)) << 16); }
    void Key(uintptr_t key) { Send(Input::kKeyDown, key); }

    void ExpectRange(double start, double end) {
        EXPECT_NEAR(zoom.GetStart(), start, 1e-12);
        EXPECT_NEAR(zoom.GetEnd(), end, 1e-12);
    }

    FakeViewer viewer;
    HorizontalZoomScale zoom;
    Rect plot{};
};

TEST_F(ZoomScaleTest, WheelAndKeysZoomInAboutTheCursor) {
    ExpectRange(0, 1);
    EXPECT_EQ(zoom.cursorPosition(), 0.5);
    Wheel(120);
    ExpectRange(0.15, 0.85);
    Wheel(120);
    ExpectRange(0.255, 0.745);
    EXPECT_EQ(zoom.cursorPosition(), 0.5);
    EXPECT_EQ(viewer.paints, 2);
    EXPECT_EQ(viewer.openDCs, 0);

    for (uintptr_t key : {uintptr_t{'W'}, uintptr_t{0x26}}) {
        zoom.SetVisibleRange(0, 1);
        Key(key);
        ExpectRange(0.15, 0.85);
    }
}

TEST_F(ZoomScaleTest, ZoomingOutIsCutToTheWholeSeries) {
    Wheel(120);
    Wheel(-120);
    ExpectRange(0, 1);
    EXPECT_DOUBLE_EQ(zoom.cursorPosition(), 0.5);
    for (uintptr_t key : {uintptr_t{'S'}, uintptr_t{0x28}}) {
        zoom.SetVisibleRange(0.15, 0.85);
        Key(key);
        ExpectRange(0, 1);
    }
}

TEST_F(ZoomScaleTest, ZoomingInNearAnEdgeCutsTheRange) {
    zoom.MoveCursor(0.9);
    Wheel(120);
    ExpectRange(0.55, 1);
    EXPECT_EQ(zoom.cursorPosition(), 0.9);
}

TEST_F(ZoomScaleTest, KeysPanByThreePercentOfTheVisibleWidth) {
    for (uintptr_t key : {uintptr_t{'D'}, uintptr_t{0x27}}) {
        zoom.SetVisibleRange(0.15, 0.85);
        Key(key);
        ExpectRange(0.171, 0.871);
        EXPECT_NEAR(zoom.cursorPosition(), 0.521, 1e-12);
    }
    for (uintptr_t key : {uintptr_t{'A'}, uintptr_t{0x25}}) {
        zoom.SetVisibleRange(0.15, 0.85);
        Key(key);
        ExpectRange(0.129, 0.829);
    }
    zoom.SetVisibleRange(0.9, 1);
    Key('D');
    ExpectRange(0.903, 1);
    EXPECT_NEAR(zoom.cursorPosition(), 0.9515, 1e-12);

    int paints = viewer.paints;
    Key('X');
    Key(0x41 + 0x100);  // only the low byte counts: 'A'
    EXPECT_EQ(viewer.paints, paints + 1);
}

TEST_F(ZoomScaleTest, DraggingPansSoThatTheContentFollowsTheMouse) {
    SetPlotArea(Rect{40, 0, 240, 100});
    zoom.SetVisibleRange(0.25, 0.75);
    EXPECT_TRUE(Send(Input::kLeftButtonDown, 0, MousePosition(140, 50)));
    EXPECT_TRUE(zoom.dragging());
    EXPECT_TRUE(viewer.captured);
    EXPECT_DOUBLE_EQ(zoom.cursorPosition(), 0.5);
    EXPECT_FALSE(Send(Input::kMouseMove, 0, MousePosition(150, 50)));
    ExpectRange(0.225, 0.725);
    EXPECT_FALSE(Send(Input::kMouseMove, 0, MousePosition(130, 50)));
    ExpectRange(0.275, 0.775);
    EXPECT_FALSE(Send(Input::kLeftButtonUp, 0, MousePosition(130, 50)));
    EXPECT_FALSE(zoom.dragging());
    EXPECT_FALSE(viewer.captured);
    Send(Input::kMouseMove, 0, MousePosition(200, 50));
    ExpectRange(0.275, 0.775);

    // Losing the capture to another window ends the drag too.
    Send(Input::kLeftButtonDown, 0, MousePosition(140, 50));
    Send(Input::kCaptureChanged, 0);
    EXPECT_FALSE(zoom.dragging());
}

TEST_F(ZoomScaleTest, AClickPlacesTheCursorAndDrawsItUnderTheMouse) {
    zoom.SetVisibleRange(0.2, 0.6);
    viewer.inverted.clear();
    Send(Input::kLeftButtonDown, 0, MousePosition(40, 10));
    EXPECT_DOUBLE_EQ(zoom.cursorPosition(), 0.2);
    ASSERT_EQ(viewer.inverted.size(), 1u);
    EXPECT_EQ(viewer.inverted[0], (Rect{40, 0, 41, 100}));
    EXPECT_TRUE(zoom.cursorShown());

    // A second click erases the line at the old place first.
    Send(Input::kLeftButtonDown, 0, MousePosition(140, 10));
    EXPECT_DOUBLE_EQ(zoom.cursorPosition(), 0.4);
    ASSERT_EQ(viewer.inverted.size(), 3u);
    EXPECT_EQ(viewer.inverted[1], (Rect{40, 0, 41, 100}));
    EXPECT_EQ(viewer.inverted[2], (Rect{140, 0, 141, 100}));
    EXPECT_EQ(viewer.openDCs, 0);
}

TEST_F(ZoomScaleTest, AWheelWithoutDeltaAndOtherMessagesChangeNothing) {
    Wheel(0);
    Send(0x0203, 0, MousePosition(100, 10));  // a double click
    Send(Input::kMouseMove, 0, MousePosition(100, 10));
    ExpectRange(0, 1);
    EXPECT_EQ(viewer.paints, 0);
}

TEST_F(ZoomScaleTest, RejectsAnInvalidScale) {
    zoom.SetVisibleRange(0.2, 0.4);
    for (auto [start, end] : {std::pair{-0.1, 0.5}, {0.5, 1.1}, {0.5, 0.5}, {0.6, 0.5}, {NAN, 0.5}, {0.1, NAN}}) {
        EXPECT_EQ(ThrownText([&] { zoom.SetVisibleRange(start, end); }), "invalid scale") << start << " " << end;
    }
    ExpectRange(0.2, 0.4);
    EXPECT_DOUBLE_EQ(zoom.cursorPosition(), 0.3);
}

TEST_F(ZoomScaleTest, TheCursorBlinksByInvertingTwice) {
    zoom.InvertCursor(viewer.windowDC, plot);
    EXPECT_TRUE(zoom.cursorShown());
    zoom.InvertCursor(viewer.windowDC, plot);
    EXPECT_FALSE(zoom.cursorShown());
    zoom.HideCursor(viewer.windowDC, plot);
    EXPECT_EQ(viewer.inverted.size(), 2u);
    EXPECT_EQ(viewer.inverted[0], (Rect{140, 0, 141, 100}));
    zoom.InvertCursor(viewer.windowDC, plot);
    zoom.ForgetCursor();
    EXPECT_FALSE(zoom.cursorShown());
    EXPECT_EQ(viewer.inverted.size(), 3u);
}

// Before the first paint there is no plot area: blinks and clicks must neither draw nor divide
// by its zero width.
TEST(HorizontalZoomScale, InputBeforeTheFirstPaintIsHarmless) {
    FakeViewer viewer;
    HorizontalZoomScale zoom;
    zoom.Attach(&viewer);
    zoom.InvertCursor(viewer.windowDC, Rect{0, 0, 100, 100});
    EXPECT_FALSE(zoom.cursorShown());
    WindowMessage click{Input::kLeftButtonDown, 0, MousePosition(50, 50)};
    zoom.ProcessInput(click);
    EXPECT_EQ(zoom.cursorPosition(), 0.0);
    WindowMessage move{Input::kMouseMove, 0, MousePosition(80, 50)};
    zoom.ProcessInput(move);
    EXPECT_EQ(zoom.GetStart(), 0.0);
    EXPECT_EQ(zoom.GetEnd(), 1.0);
    EXPECT_TRUE(viewer.inverted.empty());
}

// However far the user zooms in, or pans against an edge, the range keeps a width from
// which zooming out recovers the whole series.
TEST_F(ZoomScaleTest, NeverCollapsesToAnEmptyRange) {
    for (int i = 0; i < 300; ++i) {
        Wheel(120);
    }
    EXPECT_GT(zoom.GetEnd() - zoom.GetStart(), 0.0);
    for (int i = 0; i < 5000; ++i) {
        Key('D');
    }
    EXPECT_GT(zoom.GetEnd() - zoom.GetStart(), 0.0);
    // Zooming out from the right edge halves the distance to the left edge at each step.
    for (int i = 0; i < 60; ++i) {
        Wheel(-120);
    }
    EXPECT_LT(zoom.GetStart(), 1e-12);
    EXPECT_EQ(zoom.GetEnd(), 1.0);

    // A click on the left label strip puts the cursor before the series; zooming in there
    // must still leave something to show.
    Send(Input::kLeftButtonDown, 0, MousePosition(0, 10));
    Send(Input::kLeftButtonUp, 0, MousePosition(0, 10));
    EXPECT_LT(zoom.cursorPosition(), 0.0);
    Wheel(120);
    EXPECT_GT(zoom.GetEnd() - zoom.GetStart(), 0.0);
    Wheel(-120);
    EXPECT_GT(zoom.GetEnd(), zoom.GetStart());
}

// A click in the left label strip leaves the cursor before the visible range: the zoom then
// centres on the range's start, so zooming out still widens and zooming in keeps a part of
// what was shown. A purely vertical move during the drag must not pan.
TEST_F(ZoomScaleTest, ACursorOutsideTheRangeZoomsAboutItsNearerEnd) {
    zoom.SetVisibleRange(0.2, 0.6);
    Send(Input::kLeftButtonDown, 0, MousePosition(10, 10));
    EXPECT_FALSE(Send(Input::kMouseMove, 0, MousePosition(10, 11)));
    Send(Input::kLeftButtonUp, 0, MousePosition(10, 11));
    ExpectRange(0.2, 0.6);
    EXPECT_NEAR(zoom.cursorPosition(), 0.14, 1e-12);
    Wheel(120);
    ExpectRange(0.06, 0.34);
    EXPECT_NEAR(zoom.cursorPosition(), 0.14, 1e-12);

    zoom.SetVisibleRange(0, 1);
    zoom.MoveCursor(-0.05);
    Wheel(-120);
    ExpectRange(0, 1);
    zoom.SetVisibleRange(0.2, 1);
    zoom.MoveCursor(0.9);
    Wheel(-120);
    ExpectRange(0, 1);
}

class RecordingListener final : public ICursorListener {
  public:
    void OnCursorMoved(IViewer* viewer, double position) override {
        ++calls;
        last = position;
    }
    int calls = 0;
    double last = -1;
};

TEST_F(ZoomScaleTest, FollowersTakeOverTheRangeAndTheListenerHearsOfTheCursor) {
    FakeViewer otherViewer;
    HorizontalZoomScale follower;
    follower.Attach(&otherViewer);
    zoom.AddFollower(&follower);
    RecordingListener listener;
    zoom.SetCursorListener(&listener);

    Wheel(120);
    EXPECT_NEAR(follower.GetStart(), 0.15, 1e-12);
    EXPECT_NEAR(follower.GetEnd(), 0.85, 1e-12);
    EXPECT_EQ(otherViewer.paints, 1);
    EXPECT_EQ(listener.calls, 0);

    Key('D');
    EXPECT_NEAR(follower.GetStart(), 0.171, 1e-12);
    EXPECT_EQ(listener.calls, 1);
    EXPECT_NEAR(listener.last, 0.521, 1e-12);

    Send(Input::kLeftButtonDown, 0, MousePosition(40, 10));
    EXPECT_EQ(listener.calls, 2);
    EXPECT_NEAR(listener.last, 0.171, 1e-12);

    zoom.SetVisibleRange(0.5, 0.7);
    EXPECT_EQ(follower.GetStart(), 0.5);
    EXPECT_EQ(otherViewer.paints, 2);
    EXPECT_EQ(listener.calls, 3);
}

}  // namespace
