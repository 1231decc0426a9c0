// Clock skew from the lower envelope of synthetic relative delays: accuracy under queueing,
// the rule for a first estimate, and the memory bound over long runs.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "sessions/clock_skew.h"

namespace {

// A run as the receiver's analysis sees it: packets sent every 1 / rate s by the sender's
// clock, delayed by a fixed path and exponential queueing, and stamped by a receiver clock
// running `skewPpm` fast; times and delays relative to the first packet.
struct SyntheticRun {
    double skewPpm = 0;
    double seconds = 40;
    double packetsPerSecond = 100;
    double queueingMsAtStart = 1;  // the queueing's mean, changing linearly over the run
    double queueingMsAtEnd = 1;
    uint64_t seed = 1;
    // The least delay itself wanders as a host's does (wake-up latencies, clock rates): a
    // mean-reverting walk with this spread (ms) and time scale, plus rare long delays.
    double floorWanderMs = 0;
    double wanderSeconds = 3;
    double spikeShare = 0;
};

struct Packet {
    double receiverSeconds;
    double delayMs;
    double queueingMs;
};

template <typename Visit>
void Generate(const SyntheticRun& run, Visit visit) {
    std::mt19937_64 random(run.seed);
    std::exponential_distribution<double> queueing(1.0);
    std::normal_distribution<double> normal(0.0, 1.0);
    std::uniform_real_distribution<double> uniform(0.0, 1.0);
    const double rate = 1.0 + run.skewPpm * 1e-6;
    const int64_t count = static_cast<int64_t>(run.seconds * run.packetsPerSecond);
    const double pull = 1.0 / (run.wanderSeconds * run.packetsPerSecond);
    double wanderMs = 0;
    double firstReceiver = 0;
    for (int64_t i = 0; i < count; ++i) {
        const double sent = static_cast<double>(i) / run.packetsPerSecond;
        const double progress = sent / run.seconds;
        const double meanMs = run.queueingMsAtStart + (run.queueingMsAtEnd - run.queueingMsAtStart) * progress;
        wanderMs += -pull * wanderMs + run.floorWanderMs * std::sqrt(2 * pull) * normal(random);
        const double spikeMs = uniform(random) < run.spikeShare ? 1.0 + 4.0 * uniform(random) : 0.0;
        const double queueingMs = queueing(random) * meanMs + wanderMs + spikeMs;
        const double receiver = 5000.0 + (sent + 0.020 + queueingMs / 1000.0) * rate;
        if (i == 0) {
            firstReceiver = receiver;
        }
        const double receiverSeconds = receiver - firstReceiver;
        visit(Packet{receiverSeconds, (receiverSeconds - sent) * 1000.0, queueingMs});
    }
}

ClockSkewEstimator Estimate(const SyntheticRun& run) {
    ClockSkewEstimator estimator;
    Generate(run, [&](const Packet& p) { estimator.Add(p.receiverSeconds, p.delayMs); });
    return estimator;
}

double StandardDeviation(const std::vector<double>& values) {
    double sum = 0;
    double squares = 0;
    for (double v : values) {
        sum += v;
        squares += v * v;
    }
    const double n = static_cast<double>(values.size());
    return std::sqrt(squares / n - (sum / n) * (sum / n));
}

TEST(ClockSkew, FortySecondsOfQueueingGiveTheSkewWithinTwoPpmAndRemoveItsDrift) {
    for (double skew : {50.0, 0.0, -30.0}) {
        SCOPED_TRACE(skew);
        SyntheticRun run;
        run.skewPpm = skew;
        const ClockSkewEstimator estimator = Estimate(run);
        ASSERT_TRUE(estimator.SkewPpm().has_value());
        EXPECT_NEAR(*estimator.SkewPpm(), skew, 2.0);

        std::vector<double> skewRemoved;
        std::vector<double> queueing;
        Generate(run, [&](const Packet& p) {
            skewRemoved.push_back(estimator.SkewRemovedDelayMs(p.receiverSeconds, p.delayMs));
            queueing.push_back(p.queueingMs);
        });
        // With the true slope the remainder is the queueing itself; the 2 ppm allowed above
        // can add a few parts in 10^4 to its spread, while an uncorrected 50 ppm adds 15 %.
        EXPECT_LE(StandardDeviation(skewRemoved), StandardDeviation(queueing) * 1.001);
        EXPECT_DOUBLE_EQ(skewRemoved.front(), 0.0);  // the reference packet keeps its origin
        // The running moments give the same spread as the points corrected with the final fit.
        const Moments moments = estimator.SkewRemovedMoments();
        EXPECT_EQ(moments.count, static_cast<int64_t>(skewRemoved.size()));
        EXPECT_NEAR(moments.StandardDeviation(), StandardDeviation(skewRemoved), 1e-6);
        const Moments halves = Combine(Moments{2, 1.0, 2.0}, Moments{2, 3.0, 2.0});  // {0,2} and {2,4}
        EXPECT_DOUBLE_EQ(halves.mean, 2.0);
        EXPECT_DOUBLE_EQ(halves.sumOfSquaredDeviations, 8.0);
    }
}

// A quiet host stamping in its kernel: the least delay wanders by some 2 us, queueing adds
// 20 us on average, one packet in a hundred waits milliseconds.
SyntheticRun QuietRun(uint64_t seed) {
    SyntheticRun run;
    run.seconds = 60;
    run.queueingMsAtStart = run.queueingMsAtEnd = 0.02;
    run.floorWanderMs = 0.002;
    run.spikeShare = 0.01;
    run.seed = seed;
    return run;
}

TEST(ClockSkew, OnQuietRunsTheSkewIsToldByThirtySecondsAndLiesWithinItsOwnBound) {
    for (double skew : {0.0, 50.0}) {
        SCOPED_TRACE(skew);
        int outsideAt30 = 0;
        int outsideAt60 = 0;
        for (uint64_t seed = 1; seed <= 10; ++seed) {
            SyntheticRun run = QuietRun(seed);
            run.skewPpm = skew;
            ClockSkewEstimator estimator;
            auto outside = [&] { return std::fabs(*estimator.SkewPpm() - skew) > *estimator.SkewPpmError(); };
            bool looked = false;
            Generate(run, [&](const Packet& p) {
                estimator.Add(p.receiverSeconds, p.delayMs);
                if (p.receiverSeconds >= 30 && !looked) {
                    looked = true;
                    ASSERT_TRUE(estimator.SkewPpm().has_value()) << "seed " << seed;
                    outsideAt30 += outside();
                }
            });
            ASSERT_TRUE(estimator.SkewPpm().has_value());
            EXPECT_NEAR(*estimator.SkewPpm(), skew, ClockSkewEstimator::kMostErrorPpm);
            outsideAt60 += outside();
        }
        EXPECT_LE(outsideAt30, 1);
        EXPECT_LE(outsideAt60, 1);
    }
}

TEST(ClockSkew, AShortRunOnAWanderingFloorTellsNoSkewAndRemovesNone) {
    // Four seconds of a least delay that wanders by 0.1 ms: the hull's slope reads tens of ppm
    // though the clocks agree, and its bound says so.
    SyntheticRun run = QuietRun(3);
    run.seconds = 4;
    run.floorWanderMs = 0.1;
    run.wanderSeconds = 2;
    const ClockSkewEstimator estimator = Estimate(run);
    ASSERT_TRUE(estimator.SkewPpmError().has_value());
    EXPECT_GT(*estimator.SkewPpmError(), ClockSkewEstimator::kMostErrorPpm);
    EXPECT_FALSE(estimator.SkewPpm().has_value());
    EXPECT_EQ(estimator.SkewRemovedDelayMs(3.0, 1.5), 1.5);
    EXPECT_EQ(estimator.SkewRemovedMoments().mean, Estimate(run).SkewRemovedMoments().mean);
}

TEST(ClockSkew, AQueueBuildingUpDuringTheRunIsNotTakenForSkew) {
    // The mean queueing grows from 0.5 to 5 ms: a regression line would read over 100 ppm.
    SyntheticRun run;
    run.queueingMsAtStart = 0.5;
    run.queueingMsAtEnd = 5.0;
    run.skewPpm = 20;
    const ClockSkewEstimator estimator = Estimate(run);
    EXPECT_NEAR(estimator.FittedSkewPpm().value_or(NAN), 20.0, 2.0);
    EXPECT_NEAR(estimator.SkewPpm().value_or(20.0), 20.0, 2.0);
}

TEST(ClockSkew, AnEstimateNeedsTwentyPointsOverTwoSeconds) {
    ClockSkewEstimator estimator;
    EXPECT_FALSE(estimator.SkewPpm().has_value());
    EXPECT_EQ(estimator.SkewRemovedDelayMs(10.0, 3.0), 3.0);  // no estimate: the delay unchanged
    for (int i = 0; i < 19; ++i) {
        estimator.Add(i * 0.2, i * 0.002);  // 10 ppm
    }
    EXPECT_FALSE(estimator.SkewPpm().has_value()) << "19 points over 3.6 s";
    estimator.Add(3.8, 0.038);
    EXPECT_TRUE(estimator.SkewPpm().has_value()) << "20 points over 3.8 s";

    ClockSkewEstimator shortSpan;
    for (int i = 0; i < 40; ++i) {
        shortSpan.Add(i * 0.05, i * 0.0005);
    }
    EXPECT_FALSE(shortSpan.SkewPpm().has_value()) << "40 points over 1.95 s";
    shortSpan.Add(2.0, 0.02);
    ASSERT_TRUE(shortSpan.SkewPpm().has_value());
    EXPECT_NEAR(*shortSpan.SkewPpm(), 10.0, 1e-6);
    EXPECT_NEAR(shortSpan.SkewRemovedDelayMs(100.0, 1.0), 0.0, 1e-9);
}

TEST(ClockSkew, AtOneTimeTheLeastDelayCountsAndPointsOutOfOrderAreIgnored) {
    ClockSkewEstimator estimator;
    for (int i = 0; i <= 40; ++i) {
        // 40 ppm, between points at the same time delayed by 100 and 200 ppm more
        estimator.Add(i * 0.1, i * 0.014);
        estimator.Add(i * 0.1, i * 0.004);
        estimator.Add(i * 0.1, i * 0.024);
    }
    estimator.Add(1.0, -100.0);  // back in time
    estimator.Add(NAN, -100.0);
    estimator.Add(4.5, INFINITY);
    estimator.Add(4.5, -NAN);
    ASSERT_TRUE(estimator.SkewPpm().has_value());
    EXPECT_NEAR(*estimator.SkewPpm(), 40.0, 1e-6);
}

TEST(ClockSkew, SixHoursAtOneHundredPacketsASecondKeepTheHullSmall) {
    // The hull grows with the logarithm of the points: a day adds only a few vertices more.
    SyntheticRun run;
    run.skewPpm = 50;
    run.seconds = 6 * 3600;
    run.seed = 7;
    ClockSkewEstimator estimator;
    std::size_t largestHull = 0;
    Generate(run, [&](const Packet& p) {
        estimator.Add(p.receiverSeconds, p.delayMs);
        largestHull = std::max(largestHull, estimator.HullSize());
    });
    EXPECT_LT(largestHull, 100u);
    ASSERT_TRUE(estimator.SkewPpm().has_value());
    EXPECT_NEAR(*estimator.SkewPpm(), 50.0, 0.1);
}

TEST(ClockSkew, ADelayCurvingUpwardsStaysWithinTheCapAndNearItsMeanSlope) {
    // Every point of a convex delay is on the hull: the cap must hold and the decimated hull
    // must still give the slope at the mean time (1 s of time holds 100 points).
    ClockSkewEstimator estimator;
    std::size_t largestHull = 0;
    const double curvature = 1e-5;  // ms per s²
    const double lastSecond = 3600.0;
    for (int i = 0; i <= 360000; ++i) {
        const double t = i * 0.01;
        estimator.Add(t, curvature * t * t);
        largestHull = std::max(largestHull, estimator.HullSize());
    }
    EXPECT_LE(largestHull, ClockSkewEstimator::kMaxHullVertices);
    const double slopeAtMeanPpm = 2 * curvature * (lastSecond / 2) * 1000.0;
    ASSERT_TRUE(estimator.FittedSkewPpm().has_value());
    EXPECT_NEAR(*estimator.FittedSkewPpm(), slopeAtMeanPpm, slopeAtMeanPpm * 0.01);
    // No straight line fits a curve: the bound says so.
    EXPECT_FALSE(estimator.SkewPpm().has_value());
}

}  // namespace
