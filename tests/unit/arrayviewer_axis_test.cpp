// The axis layer's arithmetic: label values and texts, text measuring and the strip layout.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "arrayviewer/axis_labels.h"

namespace {

using namespace ArrayViewer;

std::vector<std::string> XTexts(double start, double end, int32_t count) {
    std::vector<std::string> texts;
    for (double v : XLabelValues(start, end, count)) {
        texts.push_back(FormatXLabel(-40, 40, v));
    }
    return texts;
}

TEST(AxisLabels, BottomLabelsSpanTheVisibleRange) {
    std::vector<std::string> full = XTexts(0, 1, 26);
    ASSERT_EQ(full.size(), 26u);
    EXPECT_EQ(full[0], "-40.");
    EXPECT_EQ(full[1], "-36.8");
    EXPECT_EQ(full[2], "-33.6");
    EXPECT_EQ(full[12], "-1.6");
    EXPECT_EQ(full[13], "1.6");
    EXPECT_EQ(full[24], "36.8");
    EXPECT_EQ(full[25], "40.");

    std::vector<std::string> zoomed = XTexts(0.25, 0.75, 5);
    EXPECT_EQ(zoomed, (std::vector<std::string>{"-20.", "-10.", "0.", "10.", "20."}));

    // The middle of an odd count is exactly the centre, not a rounding residue near it.
    EXPECT_EQ(XTexts(0, 1, 13)[6], "0.");

    EXPECT_EQ(XLabelValues(0.3, 0.6, 1), std::vector<double>{0.3});
    EXPECT_TRUE(XLabelValues(0, 1, 0).empty());
    EXPECT_TRUE(XLabelValues(0, 1, -3).empty());
}

TEST(AxisLabels, LeftLabelsSpanTheTransformRange) {
    LinearScalarTransformScale transform(0, 1);
    std::vector<double> values = YLabelValues(&transform, 12);
    ASSERT_EQ(values.size(), 12u);
    EXPECT_NEAR(values.front(), -0.05, 1e-15);
    EXPECT_NEAR(values.back(), 1.05, 1e-15);
    EXPECT_NEAR(values[1], 0.05, 1e-15);

    LinearScalarTransformScale flat(3, 3);
    EXPECT_EQ(YLabelValues(&flat, 3), (std::vector<double>{3, 3, 3}));
    EXPECT_TRUE(YLabelValues(nullptr, 5).empty());
}

TEST(AxisLabels, MeasuresLinesWithTheirLineFeeds) {
    int32_t widths[256];
    for (int32_t& w : widths) {
        w = 7;
    }
    widths['\n'] = 3;
    widths[0xE9] = 11;
    EXPECT_EQ(MeasureText("", widths, 12).width, 0);
    EXPECT_EQ(MeasureText("", widths, 12).height, 12);
    EXPECT_EQ(MeasureText("-36.8", widths, 12).width, 35);
    TextSize two = MeasureText("abcd\ne", widths, 12);
    EXPECT_EQ(two.width, 31);
    EXPECT_EQ(two.height, 24);
    TextSize three = MeasureText("a\nbcdef\n", widths, 10);
    EXPECT_EQ(three.width, 38);
    EXPECT_EQ(three.height, 30);
    EXPECT_EQ(MeasureText("\xE9", widths, 12).width, 11);
}

TEST(AxisLayout, SizesTheStripsAndCountsTheLabels) {
    AxisLayout layout;
    Rect area{0, 0, 600, 200};
    layout.Layout(area, TextSize{30, 12}, TextSize{40, 12});
    EXPECT_EQ(layout.bottomMargin, 14);
    EXPECT_EQ(layout.xLabelWidth, 32);
    EXPECT_EQ(layout.leftMargin, 42);
    EXPECT_EQ(layout.yLabelHeight, 12);
    EXPECT_EQ(layout.yLabelCount, 15);
    EXPECT_EQ(layout.xLabelCount, 17);

    // The bottom count never rises again, and a width with no room keeps it.
    layout.Layout(Rect{0, 0, 2000, 200}, TextSize{30, 12}, TextSize{40, 12});
    EXPECT_EQ(layout.xLabelCount, 17);
    layout.Layout(Rect{0, 0, 60, 200}, TextSize{30, 12}, TextSize{40, 12});
    EXPECT_EQ(layout.xLabelCount, 17);
    layout.Layout(Rect{0, 0, 200, 200}, TextSize{30, 12}, TextSize{40, 12});
    EXPECT_EQ(layout.xLabelCount, 4);

    layout.Layout(Rect{0, 0, 600, 10}, TextSize{30, 12}, TextSize{40, 12});
    EXPECT_EQ(layout.yLabelCount, 0);
    layout.Layout(area, TextSize{30, 12}, TextSize{0, 0});
    EXPECT_EQ(layout.yLabelCount, 0);
}

TEST(AxisLayout, PlacesLabelsAndTrimsTheArea) {
    AxisLayout layout;
    Rect area{10, 20, 610, 220};
    layout.Layout(area, TextSize{30, 12}, TextSize{40, 12});
    EXPECT_TRUE(layout.Fits(area));
    EXPECT_FALSE(layout.Fits(Rect{0, 0, 42, 200}));
    EXPECT_FALSE(layout.Fits(Rect{0, 0, 600, 14}));

    EXPECT_EQ(layout.XLabelX(area, 0.0), 52);
    EXPECT_EQ(layout.XLabelX(area, 1.0), 610);
    EXPECT_EQ(layout.XLabelX(area, 0.5), 52 + 279);
    EXPECT_EQ(layout.XLabelRect(area, 100), (Rect{84, 207, 116, 220}));

    EXPECT_EQ(layout.YLabelY(area, 0.0), 206);
    EXPECT_EQ(layout.YLabelY(area, 1.0), 20);
    EXPECT_EQ(layout.YLabelRect(area, 100), (Rect{10, 94, 52, 106}));

    EXPECT_EQ(layout.AdjustArea(area), (Rect{52, 20, 610, 206}));
    EXPECT_EQ(layout.AdjustArea(Rect{0, 0, 40, 10}), (Rect{0, 0, 40, 10}));
}

}  // namespace
