#include "measure/receiver_analysis.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numeric>

#include "measure/receiver.h"
#include "measure_test_support.h"

namespace {

constexpr int64_t kSenderFrequency = 10'000'000;  // sender counts per second
constexpr int64_t kSenderTicksPerMs = kSenderFrequency / 1000;
constexpr int64_t kLocalNsPerMs = 1'000'000;  // ManualClock runs at 1e9

// Feeds packets to the analysis with hand-chosen send and arrival times in ms.
class Analysis : public ::testing::Test {
  protected:
    AnalysedPacket Packet(int64_t group, double sendMs, double arrivalMs, int64_t frequency = kSenderFrequency) {
        const TestPacketHeader header{0, group, std::llround(sendMs * kSenderTicksPerMs), frequency};
        return AnalyzeReceivedPacket(stats, header, std::llround(arrivalMs * kLocalNsPerMs), kLocalNsPerMs * 1000);
    }
    double HistogramSum() const {
        return std::accumulate(std::begin(stats.jitterHistogram), std::end(stats.jitterHistogram), 0.0);
    }

    ManualClock clock;
    ReceiverStatistics stats;
};

TEST_F(Analysis, ReferencePacketYieldsNoSample) {
    const AnalysedPacket reference = Packet(7, 0, 5000);
    EXPECT_TRUE(reference.reference);
    EXPECT_EQ(reference.localCounter, 5000 * kLocalNsPerMs);
    EXPECT_TRUE(stats.referenceSet);
    EXPECT_EQ(stats.analysedCount, 1);
    EXPECT_EQ(stats.firstGroupNumber, 7);
    EXPECT_EQ(stats.lastGroupNumber, 7);
    EXPECT_EQ(stats.firstLocalCounter, 5000 * kLocalNsPerMs);
    EXPECT_EQ(stats.minJitter, 0);
    EXPECT_EQ(stats.maxJitter, 0);
    EXPECT_EQ(stats.maxAbsDelay, 0);
    EXPECT_EQ(HistogramSum(), 0);
}

TEST_F(Analysis, JitterAndDelayOfPacketsInAndOutOfStep) {
    Packet(0, 0, 1000);
    Packet(1, 10, 1010);  // in step: jitter 0, delay 0
    EXPECT_DOUBLE_EQ(stats.jitterHistogram[200], 0.002 * 0.998);
    EXPECT_EQ(stats.maxJitter, 0);
    Packet(2, 20, 1019.9);  // 0.1 ms early
    EXPECT_NEAR(stats.minJitter, -0.1, 1e-9);
    EXPECT_NEAR(stats.jitterHistogram[199], 0.002 * 0.998, 1e-15);
    EXPECT_NEAR(stats.jitterHistogram[200], 0.002 * 0.998 * 0.998, 1e-15);
    EXPECT_EQ(stats.maxAbsDelay, 0);  // faster than the reference: negative delay
    EXPECT_NEAR(stats.absDelayMean, 0.002 * -0.1, 1e-12);
    const AnalysedPacket late = Packet(3, 30, 1033);  // 3.1 ms later than the previous interval
    EXPECT_FALSE(late.reference);
    EXPECT_NEAR(late.jitterMs, 3.1, 1e-9);
    EXPECT_NEAR(late.delayMs, 3.0, 1e-9);
    EXPECT_EQ(late.localCounter, 1033 * kLocalNsPerMs);
    EXPECT_NEAR(stats.maxJitter, 3.1, 1e-9);
    EXPECT_NEAR(stats.maxAbsDelay, 3.0, 1e-9);
    const double expectedMeanSquare = (0.002 * 0.01 * 0.998) + 0.002 * 3.1 * 3.1;
    EXPECT_NEAR(stats.jitterMeanSquare, expectedMeanSquare, 1e-12);
    EXPECT_EQ(stats.analysedCount, 4);
    EXPECT_EQ(stats.lastGroupNumber, 3);
    EXPECT_EQ(stats.outOfOrderCount, 0);
    EXPECT_EQ(stats.duplicateCount, 0);
    EXPECT_NEAR(HistogramSum(), 0.998 * (1 - std::pow(0.998, 3)), 1e-12);
}

TEST(JitterBin, EdgesAndNonFiniteSamples) {
    EXPECT_EQ(JitterBin(0.0), 200);
    EXPECT_EQ(JitterBin(-0.1), 199);
    EXPECT_EQ(JitterBin(0.1), 200);
    EXPECT_EQ(JitterBin(-40.0), 0);
    EXPECT_EQ(JitterBin(-39.9), 0);
    EXPECT_EQ(JitterBin(-40.5), 0);
    EXPECT_EQ(JitterBin(39.9), 399);
    EXPECT_EQ(JitterBin(40.0), 399);
    EXPECT_EQ(JitterBin(1e300), 399);
    EXPECT_EQ(JitterBin(-1e300), 0);
    EXPECT_EQ(JitterBin(std::numeric_limits<double>::infinity()), 0);
    EXPECT_EQ(JitterBin(std::numeric_limits<double>::quiet_NaN()), 0);
}

TEST_F(Analysis, LargeJitterLandsInTheEdgeBins) {
    Packet(0, 0, 0);
    Packet(1, 100, 160);  // +60 ms
    Packet(2, 200, 200);  // -60 ms
    EXPECT_NEAR(stats.jitterHistogram[399], 0.002 * 0.998 * 0.998, 1e-15);
    EXPECT_NEAR(stats.jitterHistogram[0], 0.002 * 0.998, 1e-15);
    EXPECT_NEAR(stats.maxJitter, 60, 1e-9);
    EXPECT_NEAR(stats.minJitter, -60, 1e-9);
}

TEST_F(Analysis, DuplicateAndOvertakenPackets) {
    Packet(1, 10, 100);
    Packet(1, 10, 101);  // a copy 1 ms later: send interval 0, jitter = the local gap
    EXPECT_NEAR(stats.maxJitter, 1.0, 1e-9);
    EXPECT_EQ(stats.analysedCount, 2);
    EXPECT_EQ(stats.duplicateCount, 1);
    Packet(3, 30, 121);
    Packet(2, 20, 122);  // overtaken by group 3: negative send interval, large positive jitter
    EXPECT_NEAR(stats.maxJitter, 11.0, 1e-9);
    EXPECT_EQ(stats.lastGroupNumber, 2);
    EXPECT_EQ(stats.highestGroupNumber, 3);
    EXPECT_EQ(stats.outOfOrderCount, 1);
    Packet(3, 30, 123);  // repeats the largest number
    Packet(3, 30, 124);  // repeats the latest number
    EXPECT_EQ(stats.duplicateCount, 3);
    EXPECT_EQ(stats.outOfOrderCount, 1);
    EXPECT_EQ(stats.analysedCount, 6);
}

TEST_F(Analysis, ZeroFrequencyGivesNonFiniteSamplesInBinZero) {
    Packet(0, 0, 0);
    Packet(1, 10, 10, 0);
    EXPECT_DOUBLE_EQ(stats.jitterHistogram[0], 0.002 * 0.998);
    EXPECT_TRUE(std::isinf(stats.minJitter));
    EXPECT_FALSE(std::isfinite(stats.jitterMeanSquare));
    EXPECT_FALSE(std::isfinite(stats.absDelayMeanSquare));
    Packet(2, 20, 20);  // the running means stay non-finite
    EXPECT_FALSE(std::isfinite(stats.jitterMeanSquare));
    EXPECT_EQ(stats.analysedCount, 3);
}

TEST_F(Analysis, ForeignCountersDoNotOverflow) {
    AnalyzeReceivedPacket(stats, TestPacketHeader{0, INT64_MAX, INT64_MAX, 1}, 0, kLocalNsPerMs * 1000);
    AnalyzeReceivedPacket(stats, TestPacketHeader{0, INT64_MIN, INT64_MIN, 1}, 0, kLocalNsPerMs * 1000);
    EXPECT_EQ(stats.analysedCount, 2);
    EXPECT_TRUE(std::isfinite(stats.maxJitter));
}

TEST_F(Analysis, AnalysedCountGoesPastThirtyTwoBits) {
    // A long run or a flood of foreign first packets (2^31 in an hour) passes 2^31.
    Packet(0, 0, 0);
    stats.analysedCount = INT32_MAX;
    Packet(INT32_MAX, 10, 10);
    EXPECT_EQ(stats.analysedCount, int64_t{INT32_MAX} + 1);
    EXPECT_EQ(LossPercent(stats), 0.0);
}

// The receive loop's accounting, including resets that meet a datagram.
class Accounting : public ::testing::Test {
  protected:
    void Datagram(const std::vector<uint8_t>& data, int64_t length = -2) {
        ReceivedDatagram received = Received(data, clock.now);
        received.length = length == -2 ? received.length : length;
        AccountReceivedDatagram(shared, received, clock, logSink);
    }
    static bool AllZero(const ReceiverStatistics& s) {
        for (double bin : s.jitterHistogram) {
            if (bin != 0) {
                return false;
            }
        }
        return s.bytesReceived == 0 && s.analysedCount == 0 && !s.referenceSet && s.firstGroupNumber == 0 &&
               s.lastGroupNumber == 0 && s.maxJitter == 0 && s.minJitter == 0 && s.jitterMeanSquare == 0 &&
               s.absDelayMean == 0 && s.lastSendCounter == 0 && s.firstLocalCounter == 0;
    }

    ManualClock clock;
    LogSink* logSink = nullptr;  // with a log, the analysis is timed on the clock
    SharedStatistics<ReceiverStatistics> shared;
};

TEST_F(Accounting, CountsEveryDatagramAndAnalysesFirstPackets) {
    Datagram(MakePacket(0, 4, 0, kSenderFrequency, 64));
    Datagram(MakePacket(1, 4, 0, kSenderFrequency, 64));  // second of its group: the run is confirmed
    Datagram(MakePacket(0, 5, 0, kSenderFrequency, 31));  // too short
    Datagram(std::vector<uint8_t>(), 0);                  // empty datagram
    Datagram(MakePacket(0, 6, 0, kSenderFrequency), -1);  // failed receive
    Datagram(MakePacket(2, 4, 0, kSenderFrequency, 64));
    const ReceiverStatistics published = shared.Snapshot();
    EXPECT_EQ(published.bytesReceived, 64 + 64 + 31 + 64);
    EXPECT_EQ(published.analysedCount, 1);
    EXPECT_EQ(published.firstGroupNumber, 4);
    EXPECT_EQ(shared.Working().bytesReceived, published.bytesReceived);

    // Not following a sender (the sessions analyse): bytes and marks only.
    const std::vector<uint8_t> next = MakePacket(0, 7, 0, kSenderFrequency, 64);
    AccountReceivedDatagram(shared, Received(next, 0, Endpoint(), 0xB8), clock, nullptr, false);
    const ReceiverStatistics counted = shared.Snapshot();
    EXPECT_EQ(counted.bytesReceived, 64 + 64 + 31 + 64 + 64);
    EXPECT_EQ(counted.dscpCounts[46], 1);
    EXPECT_EQ(counted.analysedCount, 1);
    EXPECT_EQ(counted.lastGroupNumber, 4);
    // A reset asked for meanwhile is carried out before the next datagram.
    shared.RequestReset();
    AccountReceivedDatagram(shared, Received(next, 0, Endpoint(), 0xB8), clock, nullptr, false);
    EXPECT_EQ(shared.Snapshot().bytesReceived, 64);
    EXPECT_EQ(shared.Snapshot().analysedCount, 0);
}

TEST_F(Accounting, ResetBeforeADatagramStartsAfresh) {
    Datagram(MakePacket(0, 1, 0, kSenderFrequency));
    Datagram(MakePacket(0, 2, 100'000, kSenderFrequency));
    shared.RequestReset();
    EXPECT_TRUE(AllZero(shared.Snapshot()));  // shown at once, before the worker acts
    for (int64_t group = 3; group < 6; ++group) {
        Datagram(MakePacket(0, group, group * 100'000, kSenderFrequency));
    }
    const ReceiverStatistics published = shared.Snapshot();
    EXPECT_EQ(published.analysedCount, 3);
    EXPECT_EQ(published.bytesReceived, 3 * 64);
    EXPECT_EQ(published.firstGroupNumber, 3);
    EXPECT_TRUE(published.referenceSet);
}

TEST_F(Accounting, ResetDuringAnalysisLeavesNoMix) {
    // The reset arrives at each clock reading inside the timed analysis in turn: every time
    // the outcome must be that of a reset just after the packet.
    RecordingSink log;
    logSink = &log;
    for (int resetAt = 1; resetAt <= 2; ++resetAt) {
        shared.Clear();
        for (int64_t group = 0; group < 3; ++group) {
            Datagram(MakePacket(0, group, group * 50'000, kSenderFrequency));
        }
        clock.readings = 0;
        clock.onCounter = [&](int reading) {
            if (reading == resetAt) {
                shared.RequestReset();
            }
        };
        clock.now += 10 * kLocalNsPerMs;
        Datagram(MakePacket(0, 3, 150'000, kSenderFrequency));
        clock.onCounter = nullptr;
        EXPECT_TRUE(AllZero(shared.Snapshot())) << "reset at reading " << resetAt;
        EXPECT_TRUE(AllZero(shared.Working())) << "reset at reading " << resetAt;
    }
}

}  // namespace

namespace {

TEST(SharedStatistics, PendingResetHidesPublishesThatRaceIt) {
    SharedStatistics<SenderStatistics> shared;
    shared.Working().sentPackets = 5;
    shared.Publish();
    shared.RequestReset();
    shared.Publish();  // the worker publishing old data before it sees the request
    EXPECT_EQ(shared.Snapshot().sentPackets, 0);
    EXPECT_TRUE(shared.ConsumeReset());
    EXPECT_FALSE(shared.ConsumeReset());
    EXPECT_EQ(shared.Working().sentPackets, 0);
    shared.Working().sentPackets = 1;
    shared.Publish();
    EXPECT_EQ(shared.Snapshot().sentPackets, 1);
}

}  // namespace
