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

// Scattered losses, and bursts long enough to leave whole words of a large group empty.
TEST(LossAccountant, RandomLossIsCountedExactly) {
    struct Case {
        int32_t groupSize;
        double startLoss;  // the chance that a loss burst starts at a packet
        double stayLost;   // the chance that it goes on at the next
    };
    for (const Case c : {Case{50, 0.10, 0.0}, Case{1500, 0.002, 0.995}}) {
        std::mt19937 random(11);
        std::uniform_real_distribution<double> chance(0.0, 1.0);
        LossAccountant accountant;
        int64_t lost = 0;
        int64_t run = 0;
        int64_t longestRun = 0;
        int64_t runs = 0;  // across group boundaries too
        for (int64_t group = 0; group < 2000; ++group) {
            for (int32_t index = 0; index < c.groupSize; ++index) {
                if ((group != 0 || index != 0) && chance(random) < (run > 0 ? c.stayLost : c.startLoss)) {
                    ++lost;
                    runs += run == 0 ? 1 : 0;
                    longestRun = std::max(longestRun, ++run);
                } else {
                    run = 0;
                    accountant.Add(group, index, static_cast<uint16_t>(c.groupSize));
                }
            }
        }
        EXPECT_EQ(accountant.Figures().LossPercent().has_value(), true);
        accountant.Finish();
        EXPECT_EQ(accountant.Figures().lost, lost);
        EXPECT_EQ(accountant.Figures().received, 2000 * c.groupSize - lost);
        EXPECT_EQ(accountant.Figures().longestLossRun, longestRun);
        EXPECT_EQ(accountant.Figures().lossRuns, runs);
        EXPECT_EQ(accountant.Figures().reordered, 0);
    }
}

TEST(LossAccountant, DuplicatesReorderingAndTheWindow) {
    LossAccountant accountant;
    const Arrival arrivals[] = {{0, 0}, {0, 1}, {0, 1}, {2, 1}, {2, 0}, {3, 1}, {1, 0}, {2, 0}, {66, 0}};
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
    EXPECT_EQ(f.received, 7);
    EXPECT_EQ(f.duplicates, 3);
    EXPECT_EQ(f.reordered, 2);
    EXPECT_EQ(f.ignored, 3);
    // Then group 3's index 0, groups 4 to 65 whole and group 66's index 1.
    EXPECT_EQ(f.lost, 1 + 1 + 62 * 2 + 1);
    EXPECT_EQ(f.longestLossRun, 62 * 2);
    EXPECT_EQ(f.firstPacketsLost, 63);
    EXPECT_EQ(f.expected, 67 * 2);
    EXPECT_FALSE(f.groupSizeInferred);
}

// A stray packet of the run's own sender, or one forged from its address, with another size,
// none, or an index far beyond the size changes neither the size nor the loss.
TEST(LossAccountant, OneStrayPacketChangesNoSizeAndNoLoss) {
    struct Stray {
        int32_t index;
        std::optional<uint16_t> stated;
    };
    const auto run = [](std::optional<uint16_t> stated, const std::vector<Stray>& strays) {
        LossAccountant accountant;
        for (int64_t group = 0; group < 300; ++group) {
            for (int32_t index = 0; index < 4; ++index) {
                if (stated || index < 2 || group % 5 != 0) {  // some loss the inferred size can see
                    accountant.Add(group, index, stated);
                }
            }
            for (const Stray& stray : strays) {
                if (group % 50 == 7) {
                    EXPECT_NE(accountant.Add(group, stray.index, stray.stated), PacketCount::New);
                }
            }
        }
        accountant.Finish();
        return accountant.Figures();
    };
    const std::vector<Stray> stated = {{65535, 4}, {1, 65535}, {1, 8}, {3, std::nullopt}, {70, std::nullopt}};
    const std::vector<Stray> inferred = {{65535, std::nullopt}, {4, 5}};
    for (const auto& [size, strays] : {std::pair{std::optional<uint16_t>{4}, stated}, {std::nullopt, inferred}}) {
        const LossFigures clean = run(size, {});
        const LossFigures f = run(size, strays);
        EXPECT_EQ(f.groupSize, 4);
        EXPECT_EQ(f.groupSizeInferred, !size);
        EXPECT_EQ(f.received, clean.received);
        EXPECT_EQ(f.lost, clean.lost);
        EXPECT_EQ(f.expected, 1200);
        EXPECT_EQ(f.expected, clean.expected);
        EXPECT_EQ(f.longestLossRun, clean.longestLossRun);
        EXPECT_EQ(f.duplicates, 0);
        EXPECT_EQ(f.ignored, static_cast<int64_t>(6 * strays.size()));
    }
}

TEST(LossAccountant, ASizeChangesWhenThreeGroupsInARowAgree) {
    struct Case {
        std::optional<uint16_t> before;
        std::optional<uint16_t> after;
    };
    for (const Case c : {Case{10, 20}, Case{std::nullopt, std::nullopt}}) {
        LossAccountant accountant;
        for (int64_t group = 0; group < 200; ++group) {
            const int32_t size = group < 100 ? 10 : 20;
            for (int32_t index = 0; index < size; ++index) {
                accountant.Add(group, index, group < 100 ? c.before : c.after);
            }
        }
        accountant.Finish();
        const LossFigures& f = accountant.Figures();
        EXPECT_EQ(f.groupSize, 20);
        EXPECT_EQ(f.groupSizeInferred, !c.after);
        // The groups still in the window when the size became 20 are closed with it: from 35
        // on for a stated size, which counts nothing of the two groups that carried the new
        // size before it was trusted; from 38 on for an inferred one, which takes them in.
        EXPECT_EQ(f.lost, c.after ? 65 * 10 + 2 * 20 : 62 * 10);
        EXPECT_EQ(f.received, 3000 - (c.after ? 2 * 20 : 0));
        EXPECT_EQ(f.expected, f.received + f.lost);
    }
}

// Near the ends of the group numbers and counts nothing overflows (checked under UBSan):
// the counts saturate, the share stays a share.
TEST(LossAccountant, HugeJumpsAreCountedWithoutLoopingAndSaturate) {
    struct Case {
        int64_t from;
        int64_t jumpTo;
        int64_t lost;
    };
    constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
    for (const Case c : {Case{0, 1'000'000'000'000, 2 * (1'000'000'000'000 - 3) + 1}, Case{0, kMax - 1, kMax},
                         Case{0, kMax, kMax}, Case{kMax - 3, kMax, 1}}) {
        LossAccountant accountant;
        for (int64_t group = c.from; group < c.from + 3; ++group) {
            accountant.Add(group, 0, 2);
            accountant.Add(group, 1, 2);
        }
        accountant.Add(c.jumpTo, 1, 2);
        accountant.Finish();
        accountant.Finish();
        const LossFigures& f = accountant.Figures();
        EXPECT_EQ(f.lost, c.lost);
        EXPECT_EQ(f.longestLossRun, c.lost);
        EXPECT_EQ(f.firstPacketsLost, std::min(c.jumpTo - c.from - 2, kMax));
        EXPECT_LE(f.LossPercent().value(), 100.0);
        EXPECT_GE(f.expected, f.lost);
    }
}

}  // namespace
