// End-to-end tests of the jitter graph: what the real Veltrane.exe draws, read back from the
// screen, and how it answers the wheel and the keys.

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "app/resource.h"
#include "app_driver.h"
#include "udp_probe.h"
#include "veltrane_test.h"
#include "window_pixels.h"

namespace {

// The trace's pen, and the same inverted where the blinking cursor line crosses it.
bool IsTrace(COLORREF c) {
    return c == RGB(0, 0, 70) || c == RGB(255, 255, 185);
}

// The grid's pen, also inverted.
bool IsGrid(COLORREF c) {
    return c == RGB(210, 210, 210) || c == RGB(45, 45, 45);
}

// Where the trace is: the columns it covers and, for each, its topmost row (-1: none).
struct Trace {
    int left = -1;
    int right = -1;
    std::vector<int> top;

    bool Found() const { return left >= 0; }
    // The row most columns have as their top: the level of the empty bins.
    int BaseRow() const {
        std::map<int, int> counts;
        for (int row : top) {
            if (row >= 0) {
                ++counts[row];
            }
        }
        return std::max_element(counts.begin(), counts.end(), [](auto& a, auto& b) { return a.second < b.second; })
            ->first;
    }
};

Trace FindTrace(const WindowPixels& image) {
    Trace trace;
    trace.top.assign(image.width, -1);
    for (int x = 0; x < image.width; ++x) {
        for (int y = 0; y < image.height; ++y) {
            if (IsTrace(image.At(x, y))) {
                trace.top[x] = y;
                break;
            }
        }
        if (trace.top[x] >= 0) {
            trace.left = trace.left < 0 ? x : trace.left;
            trace.right = x;
        }
    }
    return trace;
}

// The rows under the plot, where the horizontal axis is labelled: below the grid's last row.
std::vector<COLORREF> BottomLabels(const WindowPixels& image) {
    int gridBottom = -1;
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            if (IsGrid(image.At(x, y))) {
                gridBottom = y;
                break;
            }
        }
    }
    if (gridBottom < 0) {
        return {};
    }
    return std::vector<COLORREF>(image.pixels.begin() + static_cast<ptrdiff_t>(gridBottom + 1) * image.width,
                                 image.pixels.end());
}

// What the screen shows of the graph once the program has drawn everything it was asked to.
WindowPixels Screen(HWND graph) {
    // Wine puts a window's drawing onto the screen when its thread next waits for messages,
    // but not twice within 50 ms: wake the thread once more after that.
    Synchronise(graph);
    Sleep(100);
    Synchronise(graph);
    Sleep(100);
    return CaptureClientArea(graph);
}

class GraphTest : public VeltraneTest {
  protected:
    void SetUp() override {
        VeltraneTest::SetUp();
        graph_ = FindChild(dialog_, "ArrayViewer");
        ASSERT_NE(graph_, nullptr);
    }

    HWND graph_ = nullptr;
};

// The graph is a bordered child window over the hidden placeholder 1008, and an empty
// histogram is drawn as a flat line.
TEST_F(GraphTest, CoversThePlaceholderAndStartsFlat) {
    const LONG style = GetWindowLongA(graph_, GWL_STYLE);
    EXPECT_EQ(style & (WS_CHILD | WS_VISIBLE | WS_BORDER), WS_CHILD | WS_VISIBLE | WS_BORDER);
    EXPECT_FALSE(IsWindowVisible(Control(IDC_GRAPH_PLACEHOLDER)));
    RECT graph{}, placeholder{};
    GetWindowRect(graph_, &graph);
    GetWindowRect(Control(IDC_GRAPH_PLACEHOLDER), &placeholder);
    EXPECT_TRUE(EqualRect(&graph, &placeholder));

    const WindowPixels image = Screen(graph_);
    ASSERT_GT(image.width, 0) << "the screen cannot be read";
    const Trace trace = FindTrace(image);
    ASSERT_TRUE(trace.Found());
    // Across most of the plot, with the axis labels on the left.
    EXPECT_GT(trace.right - trace.left, image.width * 3 / 4);
    for (int x = trace.left; x <= trace.right; ++x) {
        EXPECT_EQ(trace.top[x], trace.BaseRow()) << "column " << x;
    }
}

// The left labels of the very first picture already belong to the empty histogram: a reset of
// the empty statistics, which repaints, changes nothing left of the plot.
TEST_F(GraphTest, StartsWithTheLeftLabelsOfTheEmptyHistogram) {
    const WindowPixels first = Screen(graph_);
    ASSERT_GT(first.width, 0) << "the screen cannot be read";
    const Trace before = FindTrace(first);
    ASSERT_TRUE(before.Found());

    ASSERT_TRUE(Click(Control(IDC_RECEIVER_RESET)));
    const WindowPixels second = Screen(graph_);
    const Trace after = FindTrace(second);
    ASSERT_TRUE(after.Found());
    EXPECT_EQ(after.left, before.left);
    int differing = 0;
    for (int y = 0; y < first.height; ++y) {
        for (int x = 0; x < std::min(before.left, after.left); ++x) {
            differing += first.At(x, y) != second.At(x, y) ? 1 : 0;
        }
    }
    EXPECT_EQ(differing, 0);
}

// Packets that arrive in step with their sending pile up in the middle bin, at 0 ms; the
// receiver's reset flattens the graph again.
TEST_F(GraphTest, ShowsTheLoopbackJitterPeakAtZeroUntilTheReset) {
    const uint16_t port = FreeUdpPort();
    UseLoopback(port, port);
    ASSERT_TRUE(Click(Control(IDC_ENABLE_RECEIVER)));
    ASSERT_TRUE(Click(Control(IDC_ENABLE_SENDER)));
    Sleep(3000);
    // Freezes the picture: the display timer stops after one last display.
    ASSERT_TRUE(Click(Control(IDC_STOP_DISPLAY_TIMER)));
    const WindowPixels image = Screen(graph_);
    ASSERT_TRUE(Click(Control(IDC_ENABLE_SENDER)));
    ASSERT_TRUE(Click(Control(IDC_ENABLE_RECEIVER)));

    ASSERT_GT(image.width, 0) << "the screen cannot be read";
    const Trace trace = FindTrace(image);
    ASSERT_TRUE(trace.Found());
    const int peakRow = *std::min_element(trace.top.begin() + trace.left, trace.top.begin() + trace.right + 1);
    double peakColumns = 0;
    int count = 0;
    for (int x = trace.left; x <= trace.right; ++x) {
        if (trace.top[x] == peakRow) {
            peakColumns += x;
            ++count;
        }
    }
    const double peak = peakColumns / count;
    const double middle = (trace.left + trace.right) / 2.0;
    // 3 % of the width is 2.4 ms of the 80 ms axis.
    EXPECT_NEAR(peak, middle, 0.03 * (trace.right - trace.left));
    // The trace scales to its highest value: the peak stands far above the empty bins.
    EXPECT_GT(trace.BaseRow() - peakRow, image.height / 2);

    ASSERT_TRUE(Click(Control(IDC_RECEIVER_RESET)));
    const Trace flat = FindTrace(Screen(graph_));
    ASSERT_TRUE(flat.Found());
    for (int x = flat.left; x <= flat.right; ++x) {
        EXPECT_EQ(flat.top[x], flat.BaseRow()) << "column " << x;
    }
}

// A click gives the graph the focus; then the wheel and the arrow keys, sent to the focused
// window as the system would, zoom in and out, which relabels the horizontal axis. A wheel
// message without a turn changes nothing.
TEST_F(GraphTest, ZoomsWithTheWheelAndTheKeysAfterAClick) {
    // Read first: a click before the first paint finds no plot and puts the cursor at the start.
    const std::vector<COLORREF> full = BottomLabels(Screen(graph_));
    ASSERT_FALSE(full.empty());
    RECT client{};
    GetClientRect(graph_, &client);
    const LPARAM middle = MAKELPARAM(client.right / 2, client.bottom / 2);
    ASSERT_TRUE(PostMessageA(graph_, WM_LBUTTONDOWN, MK_LBUTTON, middle));
    ASSERT_TRUE(PostMessageA(graph_, WM_LBUTTONUP, 0, middle));
    // Posted messages are served after sent ones: wait for the click's effect itself.
    HWND focus = nullptr;
    for (int i = 0; i < 40 && focus != graph_; ++i) {
        Sleep(50);
        focus = FocusOfThread(dialog_);
    }
    ASSERT_EQ(focus, graph_);

    POINT screen{client.right / 2, client.bottom / 2};
    ClientToScreen(graph_, &screen);
    const auto wheel = [&](short delta) {
        PostMessageA(focus, WM_MOUSEWHEEL, MAKEWPARAM(0, delta), MAKELPARAM(screen.x, screen.y));
        return BottomLabels(Screen(graph_));
    };
    const auto key = [&](WPARAM code) {
        PostMessageA(focus, WM_KEYDOWN, code, 1);
        PostMessageA(focus, WM_KEYUP, code, 0xC0000001);
        return BottomLabels(Screen(graph_));
    };

    EXPECT_EQ(wheel(0), full);
    const std::vector<COLORREF> zoomedIn = wheel(WHEEL_DELTA);
    EXPECT_NE(zoomedIn, full);
    const std::vector<COLORREF> zoomedOut = wheel(-WHEEL_DELTA);
    EXPECT_NE(zoomedOut, zoomedIn);
    const std::vector<COLORREF> keyIn = key(VK_UP);
    EXPECT_NE(keyIn, zoomedOut);
    EXPECT_NE(key(VK_DOWN), keyIn);
}

}  // namespace
