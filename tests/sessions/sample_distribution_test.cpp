#include "sessions/sample_distribution.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "allocation_count.h"
#include "measure_test_support.h"

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInfinity = std::numeric_limits<double>::infinity();

struct RecordedRun {
    std::string name;
    std::vector<double> samples;
};

// Jitter of a quiet path with bursts both ways, a delay that drifts and queues, and edges.
std::vector<RecordedRun> SyntheticRuns() {
    std::mt19937 random(3550);
    std::normal_distribution<double> quiet(0.0, 0.3);
    std::exponential_distribution<double> burst(1.0 / 20.0);
    std::bernoulli_distribution isBurst(0.02);
    RecordedRun jitter{"jitter", {}};
    RecordedRun delay{"delay", {}};
    for (int i = 0; i < 100'000; ++i) {
        const double spike = isBurst(random) ? burst(random) : 0.0;
        jitter.samples.push_back(quiet(random) + (i % 2 == 0 ? spike : -spike));
        delay.samples.push_back(5.0 + i * 0.00002 + std::fabs(quiet(random)) + spike);
    }
    jitter.samples.insert(jitter.samples.end(), {kNaN, kInfinity, -kInfinity});
    return {jitter,
            delay,
            {"one sample", {-7.25}},
            {"all alike, beyond the bins", {2e7, 2e7, 2e7}},
            {"near zero", {0.0, 1e-7, -1e-6, 2e-5, -3e-4, 0.0, 1e-9}},
            {"decades", {1e-3, 1e-2, 0.1, 1.0, 10.0, 100.0, 1e3, 1e4, 1e5, 1e6}}};
}

// The jitter and relative delay of the first packets of a real 20 s run on loopback (recorded
// by data/record_run.py from a busy machine), worked out as the receiver does; none where the
// recording's path is not known (under Wine).
std::vector<RecordedRun> RealRuns() {
#ifdef VELTRANE_RECORDED_RUN
    std::ifstream file(VELTRANE_RECORDED_RUN);
    std::string comment;
    std::getline(file, comment);
    RecordedRun jitter{"recorded jitter", {}};
    RecordedRun delay{"recorded delay", {}};
    int64_t group = 0, sendCounter = 0, frequency = 0, arrivalNs = 0;
    int64_t firstSend = 0, firstArrival = 0, lastSend = 0, lastArrival = 0;
    for (bool first = true; file >> group >> sendCounter >> frequency >> arrivalNs; first = false) {
        const auto sentMs = [&](int64_t from) { return 1e3 * static_cast<double>(sendCounter - from) / frequency; };
        const auto arrivedMs = [&](int64_t from) { return 1e-6 * static_cast<double>(arrivalNs - from); };
        if (first) {
            firstSend = sendCounter;
            firstArrival = arrivalNs;
        } else {
            jitter.samples.push_back(arrivedMs(lastArrival) - sentMs(lastSend));
        }
        delay.samples.push_back(arrivedMs(firstArrival) - sentMs(firstSend));
        lastSend = sendCounter;
        lastArrival = arrivalNs;
    }
    EXPECT_GT(jitter.samples.size(), 1900u) << VELTRANE_RECORDED_RUN;
    return {jitter, delay};
#else
    return {};
#endif
}

TEST(SampleDistribution, AgreesWithAnExactComputationWithinItsStatedError) {
    std::vector<RecordedRun> runs = SyntheticRuns();
    for (RecordedRun& run : RealRuns()) {
        runs.push_back(std::move(run));
    }
    for (const RecordedRun& run : runs) {
        SampleDistribution distribution;
        std::vector<double> finite;
        for (double sample : run.samples) {
            distribution.Add(sample);
            if (std::isfinite(sample)) {
                finite.push_back(sample);
            }
        }
        std::sort(finite.begin(), finite.end());
        double sum = 0.0;
        for (double sample : finite) {
            sum += sample;
        }
        const double mean = sum / static_cast<double>(finite.size());
        double squares = 0.0;
        for (double sample : finite) {
            squares += (sample - mean) * (sample - mean);
        }
        const DistributionSummary summary = distribution.Summary().value();
        EXPECT_EQ(summary.count, static_cast<int64_t>(finite.size())) << run.name;
        EXPECT_EQ(summary.min, finite.front()) << run.name;
        EXPECT_EQ(summary.max, finite.back()) << run.name;
        EXPECT_NEAR(summary.mean, mean, 1e-9 * std::max(1.0, std::fabs(mean))) << run.name;
        EXPECT_NEAR(summary.stddev, std::sqrt(squares / static_cast<double>(finite.size())),
                    1e-9 * (1.0 + std::fabs(mean)))
            << run.name;
        for (const auto& [percent, estimate] : {std::pair{50, summary.p50}, {95, summary.p95}, {99, summary.p99}}) {
            const double exact = ExactPercentile(finite, percent);
            const double bound = kPercentileRelativeError * std::fabs(exact) + kPercentileAbsoluteErrorMs;
            EXPECT_NEAR(estimate, exact, bound) << run.name << ", p" << percent;
        }
    }
}

TEST(SampleDistribution, EmptyUntilTheFirstSampleAndAfterReset) {
    SampleDistribution distribution;
    EXPECT_FALSE(distribution.Summary());
    distribution.Add(kNaN);
    EXPECT_FALSE(distribution.Summary());
    distribution.Add(-100.0);
    distribution.Reset();
    EXPECT_FALSE(distribution.Summary());
    distribution.Add(-2.0);
    distribution.Add(4.0);
    const DistributionSummary summary = distribution.Summary().value();
    EXPECT_EQ(summary.count, 2);
    EXPECT_EQ(summary.min, -2.0);
    EXPECT_EQ(summary.mean, 1.0);
    EXPECT_EQ(summary.stddev, 3.0);
    EXPECT_NEAR(summary.p50, -2.0, 0.03);
    EXPECT_NEAR(summary.p99, 4.0, 0.05);
}

TEST(SampleDistribution, MemoryStaysFlatOverALongRun) {
    SampleDistribution distribution;
    std::mt19937 random(1);
    std::lognormal_distribution<double> spread(0.0, 4.0);
    const int64_t before = AllocationCount();
    for (int i = 0; i < 1'000'000; ++i) {
        distribution.Add(i % 2 == 0 ? spread(random) : -spread(random));
        if (i % 100'000 == 0) {
            EXPECT_TRUE(distribution.Summary());
            distribution.Reset();
        }
    }
    EXPECT_EQ(AllocationCount() - before, 0);
}

}  // namespace
