// The call verdict against values worked out by hand from the E-model's formulas, and the
// playout buffer's late shares per run.

#include "sessions/call_quality.h"

#include <gtest/gtest.h>

#include <limits>

#include "sessions/playout_buffer.h"

namespace {

constexpr double kNoLoss = 0.0;
constexpr double kRandom = 1.0;
constexpr double kG711Bpl = 25.1;

TEST(CallQuality, TheEModelMatchesHandWorkedValues) {
    // The default connection: Ro 94.77 less Is 1.41 and the listener echo's 0.15.
    const double clean = EModelRating(0, kG711Bpl, kNoLoss, kRandom, 0);
    EXPECT_NEAR(clean, 93.2, 0.05);
    EXPECT_NEAR(MosFromRating(93.2), 4.41, 0.005);
    // G.711 with concealment, 10 % random loss: Ie-eff = 95 * 10 / (10 + 25.1) = 27.07.
    const double lossy = EModelRating(0, kG711Bpl, 10, kRandom, 0);
    EXPECT_NEAR(lossy, 66.1, 0.1);
    EXPECT_NEAR(MosFromRating(lossy), 3.41, 0.01);
    // The same loss in bursts twice as long as random: Ie-eff = 950 / (5 + 25.1) = 31.56.
    EXPECT_NEAR(EModelRating(0, kG711Bpl, 10, 2, 0), 61.6, 0.1);
    // A codec's own impairment adds in full: G.729's 11.
    EXPECT_NEAR(EModelRating(11, 19, kNoLoss, kRandom, 0), 82.2, 0.05);
    // Up to 100 ms only the echoes (talker echo loudness 65 dB) cost; at 400 ms the delay's own
    // term is 25 * ((1 + 2^6)^(1/6) - 3 * (1 + (2/3)^6)^(1/6) + 2) = 24.1 on top.
    EXPECT_GT(EModelRating(0, kG711Bpl, kNoLoss, kRandom, 100), clean - 3);
    EXPECT_LT(EModelRating(0, kG711Bpl, kNoLoss, kRandom, 400), clean - 24.1);
}

TEST(CallQuality, TheScoreStaysOnItsScale) {
    EXPECT_EQ(MosFromRating(-20), 1.0);
    EXPECT_EQ(MosFromRating(std::numeric_limits<double>::quiet_NaN()), 1.0);
    EXPECT_EQ(MosFromRating(130), 4.5);
    // Every packet lost still rates: Ie-eff = 95 * 100 / (100 + 25.1) = 75.9.
    EXPECT_NEAR(EModelRating(0, kG711Bpl, 100, kRandom, 0), 17.3, 0.1);
}

TEST(CallQuality, BurstRatioIsOneForRandomLossAndNeverBelow) {
    EXPECT_NEAR(BurstRatio(0.2, 1 / 0.8), 1.0, 1e-12);
    EXPECT_NEAR(BurstRatio(0.2, 4), 3.2, 1e-12);
    EXPECT_EQ(BurstRatio(0.5, 1), 1.0);  // every other packet: smoother than random, taken as random
    EXPECT_EQ(BurstRatio(1.0, std::numeric_limits<double>::infinity()), 1.0);
}

TEST(CallQuality, CodecsWithoutPlanningValuesAreNotRated) {
    std::string why;
    EXPECT_EQ(FindCodecImpairment("g711", &why)->bpl, 25.1);
    EXPECT_FALSE(FindCodecImpairment("g722", &why));
    EXPECT_NE(why.find("G.722"), std::string::npos);
    EXPECT_FALSE(FindCodecImpairment("opus", &why));
    EXPECT_NE(why.find("Opus"), std::string::npos);
}

JitterBufferFigures BufferOf(double recommendedMs, double latePercent) {
    JitterBufferFigures buffer;
    buffer.recommendedMs = recommendedMs;
    buffer.recommendedLatePercent = latePercent;
    buffer.sufficient = latePercent <= kAcceptableLatePercent;
    return buffer;
}

TEST(CallQuality, LateLossJoinsThePathLossAndTheDelayIsMouthToEar) {
    CallQualityInputs inputs{*FindCodecImpairment("g711"), 20, {}, BufferOf(40, 0), std::nullopt};
    inputs.loss.expected = 10'000;
    inputs.loss.lost = 1'000;
    inputs.loss.lossRuns = 1'000;  // single packets: no burstier than random
    CallQuality quality = JudgeCall(inputs);
    EXPECT_NEAR(quality.lossPercent, 10.0, 1e-9);
    EXPECT_NEAR(quality.burstR, 1.0, 1e-9);
    EXPECT_NEAR(quality.rFactor, 66.1, 0.1);
    EXPECT_EQ(quality.delaySource, DelaySource::Missing);
    EXPECT_FALSE(quality.delayMs);

    // 1 % of the received come too late: 0.9 % of those sent, each a run of its own.
    inputs.jitterBuffer = BufferOf(40, 1.0);
    inputs.loss.lossRuns = 250;  // the path loses runs of four
    inputs.oneWayDelayMs = 50;
    quality = JudgeCall(inputs);
    EXPECT_NEAR(quality.lossPercent, 10.9, 1e-9);
    EXPECT_NEAR(quality.burstR, 10.9 / (2.5 + 0.9) * 0.891, 1e-9);
    EXPECT_EQ(quality.delaySource, DelaySource::OneWayDelayOption);
    EXPECT_EQ(quality.delayMs, 50.0 + 40 + 20);
    EXPECT_EQ(quality.jitterBufferMs, 40);
    EXPECT_EQ(quality.latePercent, 1.0);

    // Nothing expected yet: no loss to speak of.
    inputs.loss = LossFigures();
    inputs.jitterBuffer = BufferOf(20, 0);
    EXPECT_EQ(JudgeCall(inputs).lossPercent, 0.0);
}

// `count` delays at `baseMs`, of which every `lateEvery`-th is `extraMs` later.
void AddRun(PlayoutLateness& lateness, double baseMs, int count, int lateEvery, double extraMs) {
    for (int i = 0; i < count; ++i) {
        lateness.Add(BinnedSample(baseMs + (i % lateEvery == 0 ? extraMs : 0.3 * (i % 7))));
    }
}

TEST(PlayoutLateness, TheSmallestBufferWithAtMostOnePercentLateEachRunFromItsOwnMinimum) {
    PlayoutLateness lateness;
    EXPECT_FALSE(lateness.Figures());
    AddRun(lateness, -3.7, 1000, 50, 50);  // 2 % come 50 ms late
    JitterBufferFigures figures = lateness.Figures().value();
    EXPECT_DOUBLE_EQ(figures.latePercent[0], 2.0);
    EXPECT_DOUBLE_EQ(figures.latePercent[1], 2.0);
    EXPECT_DOUBLE_EQ(figures.latePercent[2], 0.0);
    EXPECT_EQ(figures.recommendedMs, 60);
    EXPECT_TRUE(figures.sufficient);

    // A restart with a reference 1 s away: judged against its own minimum, not the first run's.
    lateness.EndRun();
    AddRun(lateness, 1000, 1000, 200, 30);  // 0.5 % come 30 ms late
    figures = lateness.Figures().value();
    EXPECT_DOUBLE_EQ(figures.latePercent[0], 1.25);
    EXPECT_DOUBLE_EQ(figures.latePercent[1], 1.0);
    EXPECT_EQ(figures.recommendedMs, 40);
    EXPECT_DOUBLE_EQ(figures.recommendedLatePercent, 1.0);

    // More late than any buffer holds: the largest, said to be too small.
    PlayoutLateness spiky;
    AddRun(spiky, 0, 100, 20, 150);
    figures = spiky.Figures().value();
    EXPECT_EQ(figures.recommendedMs, 100);
    EXPECT_FALSE(figures.sufficient);
    EXPECT_DOUBLE_EQ(figures.recommendedLatePercent, 5.0);
}

}  // namespace
