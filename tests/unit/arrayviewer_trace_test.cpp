// The trace layer's arithmetic: column-to-index, auto-scaling and the per-column segments.

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "arrayviewer/scalar_transform.h"
#include "arrayviewer/trace_segments.h"
#include "arrayviewer/values.h"

namespace {

using namespace ArrayViewer;

struct FixedRange final : IZoomScale1D {
    FixedRange(double start, double end) : start(start), end(end) {}
    double GetStart() override { return start; }
    double GetEnd() override { return end; }
    double start;
    double end;
};

// The pixel rows a column's trace covers: from yHi + 1 down to yLo (the last point of a
// polyline is left out).
struct Run {
    int32_t first;
    int32_t last;
};

Run TraceRun(const TraceSegments& s, int32_t c) {
    return Run{s.trace()[c].to.y + 1, s.trace()[c].from.y};
}

// Every row of every column is covered exactly once: by the eraser above, the trace or the
// eraser below. The erasers stay inside the area; the trace may reach past it.
void ExpectTiled(const TraceSegments& s, const Rect& area) {
    ASSERT_EQ(s.columns(), area.Width());
    for (int32_t c = 0; c < s.columns(); ++c) {
        int32_t x = area.left + c;
        const Segment& above = s.above()[c];
        const Segment& trace = s.trace()[c];
        const Segment& below = s.below()[c];
        for (const Segment* segment : {&above, &trace, &below}) {
            ASSERT_EQ(segment->from.x, x);
            ASSERT_EQ(segment->to.x, x);
        }
        EXPECT_EQ(above.from.y, area.top);
        EXPECT_EQ(below.to.y, area.bottom);
        EXPECT_LE(above.from.y, above.to.y);
        EXPECT_LE(below.from.y, below.to.y);
        EXPECT_LT(trace.to.y, trace.from.y) << "at least one pixel in column " << c;
        Run run = TraceRun(s, c);
        for (int32_t y = area.top; y < area.bottom; ++y) {
            int covers = (y < above.to.y) + (y >= run.first && y <= run.last) + (y >= below.from.y);
            ASSERT_EQ(covers, 1) << "column " << c << " row " << y;
        }
    }
}

// Neighbouring columns' runs overlap or touch: a rise or fall is one connected line.
void ExpectConnected(const TraceSegments& s) {
    for (int32_t c = 1; c < s.columns(); ++c) {
        Run a = TraceRun(s, c - 1);
        Run b = TraceRun(s, c);
        EXPECT_TRUE(b.first <= a.last + 1 && a.first <= b.last + 1) << "gap between columns " << c - 1 << " and " << c;
    }
}

TEST(ColumnToIndex, MapsFractionsOfTheVisibleRangeAndClamps) {
    EXPECT_EQ(ColumnToIndex(0.0, 0.0, 1.0, 400), 0);
    EXPECT_EQ(ColumnToIndex(0.5, 0.0, 1.0, 400), 200);
    EXPECT_EQ(ColumnToIndex(0.999, 0.0, 1.0, 400), 399);
    EXPECT_EQ(ColumnToIndex(1.0, 0.0, 1.0, 400), 399);
    EXPECT_EQ(ColumnToIndex(0.5, 0.25, 0.75, 400), 200);
    EXPECT_EQ(ColumnToIndex(0.0, 0.25, 0.75, 400), 100);
    EXPECT_EQ(ColumnToIndex(0.0, -0.5, 0.5, 400), 0);
    EXPECT_EQ(ColumnToIndex(1.0, 0.5, 3.0, 400), 399);
    EXPECT_EQ(ColumnToIndex(0.5, NAN, 1.0, 400), 0);
}

// Computes segments over a series held by the fixture; the transform is fitted unless
// minRange is 0, in which case it keeps the range 0 to 10.
class TraceTest : public ::testing::Test {
  protected:
    void Compute(std::vector<double> v, const Rect& area, double minRange) {
        values = std::move(v);
        ScalarValues1D<double> series(values.data(), static_cast<int32_t>(values.size()));
        if (minRange == 0.0) {
            transform.SetRange(0, 10);
        }
        ASSERT_TRUE(s.Compute(series, zoom, transform, minRange, area));
        ExpectTiled(s, area);
    }
    int32_t Lo(int32_t c) const { return s.trace()[c].from.y; }
    int32_t Hi(int32_t c) const { return s.trace()[c].to.y; }

    std::vector<double> values;
    FixedRange zoom{0, 1};
    LinearScalarTransformScale transform{0, 1};
    TraceSegments s;
};

TEST_F(TraceTest, ConstantSeriesLiesOnePixelHighInTheMiddle) {
    Compute(std::vector<double>(400, 0.3), Rect{10, 20, 110, 220}, 0.001);
    EXPECT_NEAR(transform.rangeMin, 0.2995, 1e-12);
    EXPECT_NEAR(transform.rangeMax, 0.3005, 1e-12);
    ASSERT_EQ(s.columns(), 100);
    for (int32_t c = 0; c < 100; ++c) {
        EXPECT_NEAR(Lo(c), 120, 1);
        EXPECT_EQ(Hi(c), Lo(c) - 1);
    }
}

TEST_F(TraceTest, FitsTheVisibleMinimumToTheBottomAndTheMaximumToTheTop) {
    std::vector<double> rising(400);
    for (int i = 0; i < 400; ++i) {
        rising[i] = 5.0 + i;
    }
    zoom = FixedRange(0.25, 0.75);
    Compute(rising, Rect{0, 0, 200, 100}, 0.001);
    // Visible indices 100 to 299: the first and last column's start indices.
    EXPECT_EQ(transform.rangeMin, 105.0);
    EXPECT_EQ(transform.rangeMax, 304.0);
    EXPECT_EQ(Lo(0), 100);
    EXPECT_EQ(Hi(198), 0);
    // The last column also reaches index 300, which took no part in the fit.
    EXPECT_EQ(Hi(199), -1);
    ExpectConnected(s);
}

TEST_F(TraceTest, MoreColumnsThanValuesRepeatEachValue) {
    Compute({1, 5, 3, 2}, Rect{0, 0, 8, 100}, 0.0);
    // Even columns hold one value each; odd ones span it and the next.
    for (int32_t c = 0; c < 8; c += 2) {
        EXPECT_EQ(Lo(c), 100 - 10 * static_cast<int32_t>(values[c / 2])) << c;
        EXPECT_EQ(Hi(c), Lo(c) - 1) << c;
    }
    EXPECT_EQ(Lo(1), 90);
    EXPECT_EQ(Hi(1), 50);
    EXPECT_EQ(Lo(7), 80);
    ExpectConnected(s);
}

TEST_F(TraceTest, FewerColumnsThanValuesShowEachSpansMinimumAndMaximum) {
    Compute({2, 8, 3, 3, 5, 5, 5, 5, 6, 1, 9, 4, 4, 4, 4, 4}, Rect{0, 0, 4, 100}, 0.0);
    // Columns span indices 0-4, 4-8, 8-12 and 12-15: neighbours share their boundary value.
    EXPECT_EQ(Lo(0), 80);
    EXPECT_EQ(Hi(0), 20);
    EXPECT_EQ(Lo(1), 50);
    EXPECT_EQ(Hi(1), 40);
    EXPECT_EQ(Lo(2), 90);
    EXPECT_EQ(Hi(2), 10);
    EXPECT_EQ(Lo(3), 60);
    EXPECT_EQ(Hi(3), 59);
}

// A source that the writer changes between two reads of the same index, as the receiver
// thread may do while the graph paints: the boundary value read for one column then differs
// from the one read for the next, and only the join keeps the columns connected.
class ChangingValues final : public AbstractScalarValues1D {
  public:
    void Lock() override {}
    void Unlock() override {}
    int32_t GetCount() override { return 8; }
    double GetValue(int32_t index) override { return (reads++ % 2 == 0) ? 0.0 : 10.0; }
    int reads = 0;
};

TEST_F(TraceTest, JoinsNeighbouringColumnsIntoOneConnectedRun) {
    ChangingValues changing;
    transform.SetRange(0, 10);
    Rect area{0, 0, 16, 100};
    ASSERT_TRUE(s.Compute(changing, zoom, transform, 0.0, area));
    ExpectTiled(s, area);
    ExpectConnected(s);

    std::vector<double> step(400, 0.0);
    for (int i = 200; i < 400; ++i) {
        step[i] = 1.0;
    }
    step[37] = 5.0;
    for (int32_t width : {7, 50, 399, 400, 401, 1000}) {
        Compute(step, Rect{0, 0, width, 150}, 0.001);
        ExpectConnected(s);
    }
}

TEST_F(TraceTest, StripHeightConfinesTheTraceToTheTopRows) {
    Rect area{0, 0, 30, 200};
    Rect strip = StripArea(area, 50);
    EXPECT_EQ(strip, (Rect{0, 0, 30, 50}));
    EXPECT_EQ(StripArea(area, 0), area);
    EXPECT_EQ(StripArea(area, 250), area);
    Compute(std::vector<double>(400, 2.0), strip, 0.001);
    EXPECT_NEAR(Lo(0), 25, 1);
    EXPECT_EQ(s.below()[0].to.y, 50);
}

TEST_F(TraceTest, WithoutAutoScalingTheRangeStaysAndValuesMayLeaveTheArea) {
    Compute(std::vector<double>(400, 20.0), Rect{0, 0, 10, 110}, 0.0);
    EXPECT_EQ(transform.rangeMin, 0.0);
    EXPECT_EQ(transform.rangeMax, 10.0);
    EXPECT_EQ(Lo(0), 110 - 220);
    EXPECT_EQ(s.above()[0].to.y, 0) << "the eraser above stays inside";
}

TEST_F(TraceTest, DrawsNothingWithoutWidthOrValuesAndSurvivesWildValues) {
    std::vector<double> ones(400, 1.0);
    ScalarValues1D<double> series(ones.data(), 400);
    ScalarValues1D<double> empty(nullptr, 0);
    EXPECT_FALSE(s.Compute(series, zoom, transform, 0.001, Rect{5, 0, 5, 100}));
    EXPECT_FALSE(s.Compute(empty, zoom, transform, 0.001, Rect{0, 0, 50, 100}));
    EXPECT_EQ(s.columns(), 0);

    ones[3] = INFINITY;
    ones[4] = NAN;
    ones[5] = -1e308;
    Compute(ones, Rect{0, 0, 400, 100}, 0.001);
}

TEST_F(TraceTest, HitsOnlyTheTraceOfAColumn) {
    EXPECT_FALSE(s.Hit(5, 50));
    Compute(std::vector<double>(400, 0.0), Rect{10, 0, 60, 100}, 0.001);
    EXPECT_TRUE(s.Hit(10, 50));
    EXPECT_TRUE(s.Hit(59, 49));
    EXPECT_FALSE(s.Hit(59, 48));
    EXPECT_FALSE(s.Hit(60, 50));
    EXPECT_FALSE(s.Hit(9, 50));
}

}  // namespace
