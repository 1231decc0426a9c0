#include "sessions/interarrival_jitter.h"

#include <gtest/gtest.h>

#include <limits>

namespace {

TEST(InterarrivalJitter, FollowsTheRtpFormulaOnAHandComputedSequence) {
    InterarrivalJitter jitter;
    jitter.AddTransit(10.0);
    EXPECT_FALSE(jitter.JitterMs());
    // Transit times 10, 12, 11, 15, 15, 13 ms: D = 2, -1, 4, 0, -2.
    const double transits[] = {12.0, 11.0, 15.0, 15.0, 13.0};
    const double expected[] = {0.125, 0.1796875, 0.41845703125, 0.392303466796875, 0.4927845001220703125};
    for (int i = 0; i < 5; ++i) {
        jitter.AddTransit(transits[i]);
        EXPECT_DOUBLE_EQ(jitter.JitterMs().value(), expected[i]) << i;
    }
    // Neither a time that is not finite nor the gap of a restart enters.
    jitter.AddTransit(std::numeric_limits<double>::quiet_NaN());
    jitter.Restart();
    jitter.AddTransit(1000.0);
    EXPECT_DOUBLE_EQ(jitter.JitterMs().value(), expected[4]);
    jitter.AddTransit(1016.0);
    EXPECT_DOUBLE_EQ(jitter.JitterMs().value(), expected[4] + (16.0 - expected[4]) / 16.0);
}

}  // namespace
