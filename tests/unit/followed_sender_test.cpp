// The receiver follows one sender: other senders' datagrams, and datagrams that are not
// test packets, leave its figures exactly as they were; a sender that starts again begins a
// new run.

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "measure/receiver.h"
#include "measure_test_support.h"

namespace {

constexpr int64_t kFrequency = 10'000'000;
constexpr int64_t kTicksPerMs = kFrequency / 1000;
constexpr int64_t kLocalNsPerMs = 1'000'000;

const Endpoint kFollowed = Endpoint::Ipv4(0x7F000001, 5000);
const Endpoint kOther = Endpoint::Ipv4(0x7F000001, 5001);

class Following : public ::testing::Test {
  protected:
    void Receive(const std::vector<uint8_t>& datagram, const Endpoint& source) {
        AccountReceivedDatagram(shared, Received(datagram, clock.now, source), clock, nullptr);
    }
    // Groups of two from the followed sender, 10 ms apart, arriving with a varying delay;
    // `between` runs after each group.
    ReceiverStatistics Stream(const std::function<void(int64_t group)>& between) {
        shared.Clear();
        for (int64_t group = 0; group < 50; ++group) {
            clock.now = (1000 + group * 10 + (group % 7) * 0.3) * kLocalNsPerMs;
            Receive(MakePacket(0, group, group * 10 * kTicksPerMs, kFrequency), kFollowed);
            Receive(MakePacket(1, group, group * 10 * kTicksPerMs, kFrequency), kFollowed);
            between(group);
        }
        return shared.Snapshot();
    }
    static void ExpectSameFigures(const ReceiverStatistics& a, const ReceiverStatistics& b) {
        EXPECT_EQ(a.analysedCount, b.analysedCount);
        EXPECT_EQ(ExpectedCount(a), ExpectedCount(b));
        EXPECT_EQ(a.minJitter, b.minJitter);
        EXPECT_EQ(a.maxJitter, b.maxJitter);
        EXPECT_EQ(a.jitterMeanSquare, b.jitterMeanSquare);
        EXPECT_EQ(a.maxAbsDelay, b.maxAbsDelay);
        EXPECT_EQ(a.absDelayMean, b.absDelayMean);
        EXPECT_EQ(a.absDelayMeanSquare, b.absDelayMeanSquare);
        EXPECT_EQ(a.outOfOrderCount, b.outOfOrderCount);
        EXPECT_EQ(a.duplicateCount, b.duplicateCount);
        for (int bin = 0; bin < kHistogramBins; ++bin) {
            EXPECT_EQ(a.jitterHistogram[bin], b.jitterHistogram[bin]) << "bin " << bin;
        }
    }

    ManualClock clock;
    SharedStatistics<ReceiverStatistics> shared;
};

TEST_F(Following, OtherSendersAndBadHeadersLeaveTheFiguresAsTheyWere) {
    const ReceiverStatistics clean = Stream([](int64_t) {});
    EXPECT_EQ(clean.ignoredCount, 0);

    // A second sender whose clock is an hour ahead, with its own group numbers.
    const ReceiverStatistics twoSenders = Stream([&](int64_t group) {
        clock.now += 3 * kLocalNsPerMs;
        Receive(MakePacket(0, group + 7, (group + 3'600'000) * kTicksPerMs, kFrequency), kOther);
    });
    ExpectSameFigures(clean, twoSenders);
    EXPECT_EQ(twoSenders.ignoredCount, 50);

    // Datagrams from the followed sender's own address whose headers no sender writes.
    const ReceiverStatistics badHeaders = Stream([&](int64_t group) {
        if (group == 20) {
            Receive(MakePacket(0, 21, 210 * kTicksPerMs, 0), kFollowed);  // frequency 0
            Receive(MakePacket(-1, 21, 210 * kTicksPerMs, kFrequency), kFollowed);
            Receive(MakePacket(0, 21, 210 * kTicksPerMs, kFrequency, 31), kFollowed);  // short
        }
    });
    ExpectSameFigures(clean, badHeaders);
    EXPECT_TRUE(std::isfinite(badHeaders.jitterMeanSquare) && std::isfinite(badHeaders.absDelayMeanSquare));
    EXPECT_EQ(badHeaders.ignoredCount, 3);
    EXPECT_EQ(badHeaders.bytesReceived, clean.bytesReceived + 64 + 64 + 31);
}

TEST_F(Following, ASenderThatStartsAgainBeginsANewRun) {
    // 100 groups with group 50 lost, then the sender starts again from group 0 with its
    // counter from 0, 5 s later.
    for (int64_t group = 0; group < 100; ++group) {
        clock.now = (1000 + group * 10) * kLocalNsPerMs;
        if (group != 50) {
            Receive(MakePacket(0, group, group * 10 * kTicksPerMs, kFrequency), kFollowed);
        }
    }
    for (int64_t group = 0; group < 10; ++group) {
        clock.now = (7000 + group * 10 + 2) * kLocalNsPerMs;
        Receive(MakePacket(0, group, group * 10 * kTicksPerMs, kFrequency), kFollowed);
    }
    const ReceiverStatistics s = shared.Snapshot();
    EXPECT_EQ(s.analysedCount, 109);
    EXPECT_EQ(ExpectedCount(s), 110);
    EXPECT_NEAR(LossPercent(s), 100.0 / 110, 1e-9);
    // No jitter or delay sample spans the 5 s pause: the new run's are in step again.
    EXPECT_NEAR(s.minJitter, 0, 1e-9);
    EXPECT_NEAR(s.maxJitter, 0, 1e-9);
    EXPECT_NEAR(s.maxAbsDelay, 0, 1e-9);
    EXPECT_EQ(s.ignoredCount, 0);
}

TEST_F(Following, ARestartWithin64GroupsIsFollowedAndOneDatagramRestartsNothing) {
    // 30 groups, a datagram forged from the sender's address (group 0 of a clock 5 s behind),
    // then the sender starts again 0.3 s after its last group, counting from group 0.
    for (int64_t group = 0; group < 30; ++group) {
        clock.now = (1000 + group * 10) * kLocalNsPerMs;
        Receive(MakePacket(0, group, group * 10 * kTicksPerMs, kFrequency), kFollowed);
        if (group == 20) {
            Receive(MakePacket(0, 0, (group * 10 - 5000) * kTicksPerMs, kFrequency), kFollowed);
        }
    }
    for (int64_t group = 0; group < 10; ++group) {
        clock.now = (1590 + group * 10) * kLocalNsPerMs;
        Receive(MakePacket(0, group, (590 + group * 10) * kTicksPerMs, kFrequency), kFollowed);
    }
    const ReceiverStatistics s = shared.Snapshot();
    EXPECT_EQ(s.analysedCount, 40);
    EXPECT_EQ(ExpectedCount(s), 40);
    EXPECT_EQ(s.duplicateCount, 0);
    EXPECT_EQ(s.ignoredCount, 1);
    EXPECT_NEAR(s.maxAbsDelay, 0, 1e-9);
    EXPECT_NEAR(s.maxJitter, 0, 1e-9);
}

TEST_F(Following, AResetForgetsTheFollowedSender) {
    Stream([](int64_t) {});
    shared.RequestReset();
    // The first source whose packets confirm a run is followed, the other ignored.
    for (int64_t group = 0; group < 3; ++group) {
        Receive(MakePacket(0, group + 5, group * 10 * kTicksPerMs, kFrequency), kOther);
        Receive(MakePacket(0, group + 100, group * 10 * kTicksPerMs, kFrequency), kFollowed);
    }
    const ReceiverStatistics s = shared.Snapshot();
    EXPECT_EQ(s.analysedCount, 3);
    EXPECT_EQ(s.firstGroupNumber, 5);
    EXPECT_EQ(s.ignoredCount, 3);  // the other's two held packets, then its third
}

}  // namespace
