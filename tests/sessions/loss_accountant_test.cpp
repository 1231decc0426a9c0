#include "sessions/loss_accountant.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <random>

namespace {

struct Arrival {
    int64_t group;
    int32_t index;
};

TEST(LossAccountant, PolicerPassingTheFirst20OfEach100) {
    struct Case {
        std::optional<uint16_t> padding;
        int64_t groupSize;
        bool inferred;
        int64_t lost;
    };
    // Without a trusted size the receiver cannot see the loss, and says the size is inferred.
    for (const Case c : {Case{100, 100, false, 80'000}, Case{std::nullopt, 20, true, 0}}) {
        LossAccountant accountant;
        int64_t lostBefore = 0;
        for (int64_t group = 0; group < 1000; ++group) {
            for (int32_t index = 0; index < 20; ++index) {
                accountant.Add(group, index, c.padding);
            }
            EXPECT_GE(accountant.Figures().lost, lostBefore);
            lostBefore = accountant.Figures().lost;
        }
        accountant.Finish();
        const LossFigures& f = accountant.Figures();
        EXPECT_EQ(f.received, 20'000);
        EXPECT_EQ(f.lost, c.lost);
        EXPECT_EQ(f.expected, f.received + f.lost);
        EXPECT_EQ(f.longestLossRun, c.lost == 0 ? 0 : 80);
        EXPECT_EQ(f.firstPacketsLost, 0);
        EXPECT_EQ(f.groupSize, c.groupSize);
        EXPECT_EQ(f.groupSizeInferred, c.inferred);
        EXPECT_DOUBLE_EQ(f.LossPercent().value(), c.lost / 1000.0);
    }
}

TEST(LossAccountant, RandomLossIsCountedExactly) {
    std::mt19937 random(11);
    std::bernoulli_distribution dropped(0.10);
    LossAccountant accountant;
    int64_t lost = 0;
    int64_t run = 0;
    int64_t longestRun = 0;
    int64_t runs = 0;  // across group boundaries too
    for (int64_t group = 0; group < 2000; ++group) {
        for (int32_t index = 0; index < 50; ++index) {
            if ((group != 0 || index != 0) && dropped(random)) {
                ++lost;
                runs += run == 0 ? 1 : 0;
                longestRun = std::max(longestRun, ++run);
            } else {
                run = 0;
                accountant.Add(group, index, 50);
            }
        }
    }
    EXPECT_EQ(accountant.Figures().LossPercent().has_value(), true);
    accountant.Finish();
    EXPECT_EQ(accountant.Figures().lost, lost);
    EXPECT_EQ(accountant.Figures().received, 100'000 - lost);
    EXPECT_EQ(accountant.Figures().longestLossRun, longestRun);
    EXPECT_EQ(accountant.Figures().lossRuns, runs);
    EXPECT_EQ(accountant.Figures().reordered, 0);
}

TEST(LossAccountant, DuplicatesReorderingAndTheWindow) {
    LossAccountant accountant;
    const Arrival arrivals[] = {{0, 0}, {0, 1}, {0, 1}, {2, 1}, {2, 0}, {1, 0}, {2, 0}, {66, 0}};
    for (const Arrival& a : arrivals) {
        accountant.Add(a.group, a.index, 2);
    }
    // Groups 0 and 1 left the window (more than 64 behind 66): only group 1's index 1 is lost.
    EXPECT_EQ(accountant.Figures().lost, 1);
    EXPECT_EQ(accountant.Figures().expected, 4);
    accountant.Add(2, 1, 2);    // still in the window: a duplicate
    accountant.Add(1, 1, 2);    // too late: already counted as lost
    accountant.Add(70, -1, 2);  // no index
    accountant.Add(70, kLargestTrackedGroupSize, 2);
    accountant.Finish();
    accountant.Finish();  // a second end counts nothing twice
    const LossFigures& f = accountant.Figures();
    EXPECT_EQ(f.received, 6);
    EXPECT_EQ(f.duplicates, 3);
    EXPECT_EQ(f.reordered, 2);
    EXPECT_EQ(f.ignored, 3);
    EXPECT_EQ(f.lost, 1 + 63 * 2 + 1);  // then groups 3 to 65 whole and group 66's index 1
    EXPECT_EQ(f.longestLossRun, 63 * 2);
    EXPECT_EQ(f.firstPacketsLost, 63);
    EXPECT_EQ(f.expected, 67 * 2);
    EXPECT_FALSE(f.groupSizeInferred);
}

TEST(LossAccountant, GroupSizeChangingMidRunFallsBackToInferred) {
    LossAccountant accountant;
    for (int64_t group = 0; group < 200; ++group) {
        const int32_t size = group < 100 ? 10 : 20;
        for (int32_t index = 0; index < size; ++index) {
            accountant.Add(group, index, static_cast<uint16_t>(size));
        }
    }
    accountant.Finish();
    const LossFigures& f = accountant.Figures();
    EXPECT_TRUE(f.groupSizeInferred);
    EXPECT_EQ(f.groupSize, 20);
    EXPECT_EQ(f.received, 3000);
    // Groups 36 to 99 were still in the window when the size became 20: closed with it.
    EXPECT_EQ(f.lost, 64 * 10);
    EXPECT_EQ(f.expected, f.received + f.lost);
}

TEST(LossAccountant, HugeJumpsAreCountedWithoutLoopingAndSaturate) {
    struct Case {
        int64_t jumpTo;
        int64_t lost;
    };
    constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
    for (const Case c : {Case{1'000'000'000'000, 2 * (1'000'000'000'000 - 1) + 1}, Case{kMax - 1, kMax}}) {
        LossAccountant accountant;
        accountant.Add(0, 0, 2);
        accountant.Add(0, 1, 2);
        accountant.Add(c.jumpTo, 1, 2);
        accountant.Finish();
        EXPECT_EQ(accountant.Figures().lost, c.lost);
        EXPECT_EQ(accountant.Figures().longestLossRun, c.lost);
        EXPECT_EQ(accountant.Figures().firstPacketsLost, c.jumpTo);
        EXPECT_LE(accountant.Figures().LossPercent().value(), 100.0);
    }
}

}  // namespace
