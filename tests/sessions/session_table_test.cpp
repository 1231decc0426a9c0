// The far end's sessions, fed with synthetic traffic on an injected clock: senders kept
// apart, restarts, hostile datagrams, the bound and the time-out, loss over every packet,
// clock skew per run and memory that stays flat.

#include "sessions/session_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <functional>
#include <numeric>
#include <random>
#include <thread>
#include <vector>

#include "allocation_count.h"
#include "base/clock.h"
#include "measure/end_of_run.h"
#include "measure/receiver_analysis.h"
#include "measure/test_packet.h"
#include "measure_test_support.h"

namespace {

constexpr int64_t kSenderFrequency = 10'000'000;
constexpr double kGroupMs = 10.0;
constexpr double kPacketSpacingMs = 0.05;
constexpr uint32_t kPacketSize = 64;

// A synthetic sender: its clock, its group size and its address.
struct TestSender {
    Endpoint source;
    int32_t groupSize = 4;
    int64_t counterAtZero = 0;  // the sender's counter when the receiver's reads 0
    double ppm = 0;             // its clock runs this slow: the relative delay grows by it

    // Packet `index` of `group`, sent `sendMs` after the receiver's 0.
    std::vector<uint8_t> Packet(int64_t group, int32_t index, double sendMs) const {
        std::vector<uint8_t> packet = MakePacket(index, group, Counter(sendMs), kSenderFrequency, kPacketSize);
        WriteGroupSize(packet.data(), groupSize);
        return packet;
    }
    // The end of its run after `packets` packets of `lastGroup`, sent `sendMs` after the receiver's 0.
    std::vector<uint8_t> End(int64_t lastGroup, uint32_t packets, double sendMs) const {
        std::vector<uint8_t> end(kEndOfRunSize);
        WriteEndOfRun(end.data(), EndOfRun{lastGroup, packets, Counter(sendMs)});
        return end;
    }
    int64_t Counter(double sendMs) const {
        const double ticks = sendMs * (1.0 - ppm * 1e-6) * static_cast<double>(kSenderFrequency) / 1000.0;
        return counterAtZero + std::llround(ticks);
    }
};

struct Datagram {
    double arrivalMs;
    Endpoint source;
    std::vector<uint8_t> bytes;
};

using DelayMs = std::function<double(int64_t group, int32_t index)>;
using Passes = std::function<bool(int64_t group, int32_t index)>;

// Datagrams of several sources, handed to a table in order of arrival.
class Traffic {
  public:
    // `groups` groups from `firstGroup` on, the first sent at `startMs`.
    void Stream(
        const TestSender& sender,
        int64_t firstGroup,
        int64_t groups,
        double startMs,
        const DelayMs& delayMs,
        const Passes& passes = [](int64_t, int32_t) { return true; }) {
        for (int64_t g = 0; g < groups; ++g) {
            for (int32_t index = 0; index < sender.groupSize; ++index) {
                const int64_t group = firstGroup + g;
                if (passes(group, index)) {
                    const double sendMs = startMs + static_cast<double>(g) * kGroupMs + index * kPacketSpacingMs;
                    datagrams_.push_back(
                        {sendMs + delayMs(group, index), sender.source, sender.Packet(group, index, sendMs)});
                }
            }
        }
    }
    void Raw(double arrivalMs, const Endpoint& source, std::vector<uint8_t> bytes) {
        datagrams_.push_back({arrivalMs, source, std::move(bytes)});
    }
    uint8_t* LastBytes() { return datagrams_.back().bytes.data(); }
    void Play(SessionTable& table, ManualClock& clock) { PlayUntil(table, clock, INFINITY); }
    // Those that arrive before `endMs`; the rest wait.
    void PlayUntil(SessionTable& table, ManualClock& clock, double endMs) {
        std::stable_sort(datagrams_.begin(), datagrams_.end(),
                         [](const Datagram& a, const Datagram& b) { return a.arrivalMs < b.arrivalMs; });
        auto d = datagrams_.begin();
        for (; d != datagrams_.end() && d->arrivalMs < endMs; ++d) {
            clock.SetMs(d->arrivalMs);
            table.TakeDatagram(Received(d->bytes, clock.now, d->source));
        }
        datagrams_.erase(datagrams_.begin(), d);
    }

  private:
    std::vector<Datagram> datagrams_;
};

Endpoint Local(uint16_t port) {
    return Endpoint::Ipv4(0x7F000001, port);
}

const SessionFigures* Find(const SessionsReport& report, const Endpoint& source) {
    for (const SessionFigures& s : report.sessions) {
        if (s.source == source) {
            return &s;
        }
    }
    return nullptr;
}

void ExpectSameSummary(const std::optional<DistributionSummary>& a, const std::optional<DistributionSummary>& b) {
    ASSERT_EQ(a.has_value(), b.has_value());
    if (a) {
        EXPECT_EQ(a->count, b->count);
        EXPECT_EQ(a->min, b->min);
        EXPECT_EQ(a->mean, b->mean);
        EXPECT_EQ(a->max, b->max);
        EXPECT_EQ(a->stddev, b->stddev);
        EXPECT_EQ(a->p50, b->p50);
        EXPECT_EQ(a->p95, b->p95);
        EXPECT_EQ(a->p99, b->p99);
    }
}

void ExpectSamePackets(const LossFigures& a, const LossFigures& b) {
    EXPECT_EQ(a.received, b.received);
    EXPECT_EQ(a.lost, b.lost);
    EXPECT_EQ(a.expected, b.expected);
    EXPECT_EQ(a.duplicates, b.duplicates);
    EXPECT_EQ(a.reordered, b.reordered);
    EXPECT_EQ(a.longestLossRun, b.longestLossRun);
    EXPECT_EQ(a.firstPacketsLost, b.firstPacketsLost);
    EXPECT_EQ(a.groupSize, b.groupSize);
    EXPECT_EQ(a.groupSizeInferred, b.groupSizeInferred);
}

// Bit for bit the same measurement of one sender (the byte and not-test-packet counts aside).
void ExpectSameMeasurement(const SessionFigures& a, const SessionFigures& b) {
    EXPECT_EQ(a.run, b.run);
    ExpectSamePackets(a.packets, b.packets);
    ExpectSamePackets(a.interval.packets, b.interval.packets);
    ExpectSameSummary(a.jitter, b.jitter);
    ExpectSameSummary(a.delay, b.delay);
    ExpectSameSummary(a.delaySkewRemoved, b.delaySkewRemoved);
    ExpectSameSummary(a.interval.jitter, b.interval.jitter);
    EXPECT_EQ(a.rfc3550JitterMs, b.rfc3550JitterMs);
    EXPECT_EQ(a.skewPpm, b.skewPpm);
    EXPECT_EQ(a.record.analysedCount, b.record.analysedCount);
    EXPECT_EQ(a.record.minJitter, b.record.minJitter);
    EXPECT_EQ(a.record.maxJitter, b.record.maxJitter);
    EXPECT_EQ(a.record.jitterMeanSquare, b.record.jitterMeanSquare);
    EXPECT_EQ(a.record.absDelayMean, b.record.absDelayMean);
    EXPECT_EQ(a.record.maxAbsDelay, b.record.maxAbsDelay);
    EXPECT_EQ(a.record.outOfOrderCount + a.record.duplicateCount, b.record.outOfOrderCount + b.record.duplicateCount);
    EXPECT_EQ(a.jitterBuckets.atOrBelow, b.jitterBuckets.atOrBelow);
    EXPECT_EQ(a.jitterBuckets.sumMs, b.jitterBuckets.sumMs);
}

DelayMs Wavy(double baseMs) {
    return
        [baseMs](int64_t group, int32_t index) { return baseMs + static_cast<double>((group * 7 + index) % 11) * 0.3; };
}

TEST(SessionTable, SendersStayApartAndAClockAnHourAheadChangesNoOtherSession) {
    const TestSender a{Local(5001)};
    const TestSender b{*Endpoint::Resolve("::ffff:192.0.2.1", 13013)};
    const TestSender bPlain{Endpoint::Ipv4(0xC0000201, 13013)};  // the same sender through an IPv4 socket
    TestSender hourAhead{Local(5003)};
    hourAhead.counterAtZero = 3600 * kSenderFrequency;
    const auto alternating = [](int64_t group, int32_t) { return group % 2 == 0 ? 20.0 : 23.0; };

    ManualClock aloneClock;
    SessionTable alone(aloneClock);
    Traffic aloneTraffic;
    aloneTraffic.Stream(a, 0, 500, 0.0, Wavy(5.0));
    aloneTraffic.Play(alone, aloneClock);

    ManualClock clock;
    SessionTable table(clock);
    Traffic traffic;
    traffic.Stream(a, 0, 500, 0.0, Wavy(5.0));
    traffic.Stream(b, 0, 500, 1.0, alternating, [](int64_t group, int32_t) { return group % 3 != 0; });
    traffic.Stream(bPlain, 0, 500, 1.0, alternating, [](int64_t group, int32_t) { return group % 3 == 0; });
    traffic.Stream(hourAhead, 0, 500, 2.0, [](int64_t, int32_t) { return 1.0; });
    traffic.Play(table, clock);

    const SessionsReport report = table.TakeReport(false);
    const SessionsReport reportAlone = alone.TakeReport(false);
    ASSERT_EQ(report.sessions.size(), 3u);  // in the order of their first arrivals
    EXPECT_EQ(report.sessions[0].source.ToString(), "127.0.0.1:5003");
    EXPECT_EQ(report.sessions[1].source.ToString(), "127.0.0.1:5001");
    EXPECT_EQ(report.sessions[2].source.ToString(), "192.0.2.1:13013");
    for (int i = 0; i < 3; ++i) {
        const SessionFigures& s = report.sessions[i];
        EXPECT_EQ(s.session, i + 1);
        EXPECT_EQ(s.run, 1);
        EXPECT_FALSE(s.final);
        EXPECT_EQ(s.packets.received, 2000);
        EXPECT_EQ(s.packets.lost, 0);
        EXPECT_EQ(s.packets.LossPercent(), 0.0);
        EXPECT_EQ(s.packets.groupSize, 4);
        EXPECT_FALSE(s.packets.groupSizeInferred);
        EXPECT_EQ(s.jitter->count, 4 * 499);  // each packet against its index in the group before
        EXPECT_EQ(s.delay->count, 2000);
        EXPECT_LE(std::fabs(s.jitter->max), 3.0 + 1e-6);
        EXPECT_EQ(s.notTestPackets, 0);
        EXPECT_EQ(s.record.bytesReceived, 2000 * kPacketSize);
    }
    ExpectSameMeasurement(*Find(report, a.source), reportAlone.sessions.at(0));
    // Every jitter sample of the second sender is +-3 ms: in the buckets from 5 ms up.
    const JitterBuckets& buckets = report.sessions[2].jitterBuckets;
    EXPECT_EQ(buckets.count, 1996);
    EXPECT_EQ(buckets.atOrBelow, (std::array<int64_t, 9>{0, 0, 0, 1996, 1996, 1996, 1996, 1996, 1996}));
    EXPECT_NEAR(buckets.sumMs, 1996 * 3.0, 1e-6);
    EXPECT_NEAR(report.sessions[2].rfc3550JitterMs.value(), 3.0, 0.01);
    // The dialog's decaying histogram holds them too: 499 samples, each 0.002 decayed since.
    const double* bins = report.sessions[2].record.jitterHistogram;
    EXPECT_NEAR(bins[JitterBin(-3.0)] + bins[JitterBin(3.0)], 0.002 * 0.998 * (1 - std::pow(0.998, 499)) / 0.002,
                1e-12);
    EXPECT_EQ(std::accumulate(bins, bins + kHistogramBins, 0.0), bins[JitterBin(-3.0)] + bins[JitterBin(3.0)]);
    EXPECT_EQ(report.bytesReceived, 3 * 2000 * kPacketSize);
    EXPECT_EQ(report.notTestPackets, 0);
}

TEST(SessionTable, DelayVariationIsMeasuredFromTheLeastDelayNotFromTheFirstPacket) {
    // The first packet waits 6 ms; most then take 5 ms, every tenth group 8 ms.
    const TestSender sender{Local(5001)};
    const auto delays = [](int64_t group, int32_t) { return group == 0 ? 6.0 : group % 10 == 0 ? 8.0 : 5.0; };
    ManualClock clock;
    SessionTable table(clock);
    Traffic traffic;
    traffic.Stream(sender, 0, 50, 0.0, delays);
    traffic.Play(table, clock);
    table.TakeReport(false);
    traffic.Stream(sender, 50, 50, 500.0, delays);
    traffic.Play(table, clock);
    const SessionFigures s = table.TakeReport(false).sessions.at(0);
    ASSERT_TRUE(s.pdv.has_value());
    EXPECT_EQ(s.pdv->count, 400);
    EXPECT_NEAR(s.pdv->p50, 0.0, 1e-6);
    EXPECT_NEAR(s.pdv->p99, 3.0, 3.0 * kPercentileRelativeError);
    EXPECT_NEAR(s.pdv->max, 3.0, 1e-6);
    EXPECT_NEAR(s.pdv->mean, (1.0 + 9 * 3.0) / 100, 1e-6);
    // The interval's variation is above the session's least delay, not the interval's own.
    ASSERT_TRUE(s.interval.pdv.has_value());
    EXPECT_EQ(s.interval.pdv->count, 200);
    EXPECT_NEAR(s.interval.pdv->max, 3.0, 1e-6);
    EXPECT_NEAR(s.interval.pdv->mean, 5 * 3.0 / 50, 1e-6);  // every packet of every fifth group
}

// A sender numbers its groups from 0: a run that begins at group 3, whose group 0 was due while
// the far end listened, lost groups 0 to 2 on the way; one whose group 0 was due before the far
// end began to listen missed its first groups unseen.
TEST(SessionTable, TheFirstGroupsCountAsLostWhenTheyWereDueWhileTheFarEndListened) {
    const TestSender early{Local(5001)};
    const TestSender late{Local(5002)};
    ManualClock clock;
    clock.SetMs(1000.0);
    SessionTable table(clock);
    Traffic traffic;
    traffic.Stream(early, 0, 200, 1100.0, Wavy(5.0), [](int64_t group, int32_t) { return group >= 3; });
    traffic.Stream(late, 0, 200, 600.0, Wavy(5.0), [](int64_t group, int32_t) { return group >= 41; });
    traffic.Play(table, clock);
    const SessionsReport report = table.TakeReport(true);
    const SessionFigures& lostOnTheWay = *Find(report, early.source);
    EXPECT_EQ(lostOnTheWay.packets.lost, 3 * 4);
    EXPECT_EQ(lostOnTheWay.packets.expected, 200 * 4);
    EXPECT_EQ(lostOnTheWay.packets.firstPacketsLost, 3);
    EXPECT_EQ(lostOnTheWay.packets.longestLossRun, 3 * 4);
    const SessionFigures& unseen = *Find(report, late.source);
    EXPECT_EQ(unseen.packets.lost, 0);
    EXPECT_EQ(unseen.packets.expected, (200 - 41) * 4);
}

TEST(SessionTable, ARestartIsANewRunWithItsOwnReferenceLossAndSkew) {
    std::mt19937 random(7);
    std::exponential_distribution<double> exponential(1.0);
    std::vector<double> queueingMs(4000);  // mean 1 ms, the same for a whole group (in order)
    const auto queueing = [&](int64_t group, int32_t) { return queueingMs[static_cast<size_t>(group)]; };
    const auto drawQueueing = [&] {
        std::generate(queueingMs.begin(), queueingMs.end(), [&] { return exponential(random); });
    };
    drawQueueing();
    TestSender sender{Local(5001), 2};
    sender.ppm = 50;
    ManualClock clock;
    SessionTable table(clock);
    Traffic traffic;
    // 40 s at 100 groups/s; the last ten groups lose their second packet, the very last is
    // held up by 300 ms.
    const Passes lastTenLoseOne = [](int64_t group, int32_t index) { return group < 3990 || index == 0; };
    traffic.Stream(
        sender, 0, 3999, 0.0, [&](int64_t g, int32_t i) { return 5.0 + queueing(g, i); }, lastTenLoseOne);
    traffic.Play(table, clock);
    const SessionFigures first = table.TakeReport(false).sessions.at(0);
    EXPECT_NEAR(first.skewPpm.value(), 50.0, 2.0);
    double mean = 0;
    double squares = 0;
    for (const double q : queueingMs) {
        mean += q / 4000.0;
    }
    for (const double q : queueingMs) {
        squares += (q - mean) * (q - mean) / 4000.0;
    }
    EXPECT_LT(first.delaySkewRemoved->stddev, std::sqrt(squares) * 1.005);  // the queueing's own
    EXPECT_GT(first.delay->stddev, std::sqrt(squares) * 1.1);               // 2 ms of drift on top
    traffic.Stream(
        sender, 3999, 1, 39'990.0, [](int64_t, int32_t) { return 305.0; }, lastTenLoseOne);
    traffic.Play(table, clock);
    const double heldUpRfc3550Jitter = table.TakeReport(false).sessions.at(0).rfc3550JitterMs.value();

    // Started again 2 s later with a clock of another rate and a path 1 s longer.
    sender.ppm = -50;
    sender.counterAtZero = -123'456'789;
    drawQueueing();
    const DelayMs longerPath = [&](int64_t g, int32_t i) { return 1005.0 + queueing(g, i); };
    traffic.Stream(sender, 0, 3, 42'000.0, longerPath);
    traffic.Play(table, clock);
    const SessionFigures restarted = table.TakeReport(false).sessions.at(0);
    EXPECT_EQ(restarted.run, 2);
    // No transit difference across the restart: the jitter only decays from the hold-up's.
    EXPECT_LT(restarted.rfc3550JitterMs.value(), heldUpRfc3550Jitter);
    EXPECT_LT(restarted.interval.jitter->max, 30.0);
    EXPECT_EQ(restarted.interval.packets.lost, 10);  // run 1's open groups closed at the restart
    traffic.Stream(sender, 3, 3997, 42'030.0, longerPath);
    traffic.Play(table, clock);
    const SessionsReport report = table.TakeReport(true);
    ASSERT_EQ(report.sessions.size(), 1u);
    const SessionFigures& s = report.sessions[0];
    EXPECT_TRUE(s.final);
    EXPECT_EQ(s.run, 2);
    EXPECT_NEAR(s.skewPpm.value(), -50.0, 2.0);  // the second run's alone
    EXPECT_EQ(s.packets.received, 16000 - 10);
    EXPECT_EQ(s.packets.lost, 10);
    EXPECT_EQ(s.packets.expected, 16000);
    EXPECT_EQ(s.packets.longestLossRun, 1);
    EXPECT_EQ(s.interval.packets.received, 8000 - 6);
    EXPECT_EQ(s.interval.packets.lost, 0);
    EXPECT_EQ(s.packets.firstPacketsLost, 0);
    // No jitter sample across the restart: the second of a longer path would stand out. Each
    // run's first packet of each of the two calls has none.
    EXPECT_EQ(s.jitter->count, 16000 - 10 - 2 * 2);
    EXPECT_LT(s.jitter->max, 310.0);
    EXPECT_EQ(s.delay->count, 16000 - 10);
    EXPECT_LT(s.delay->max, 310.0);
    EXPECT_EQ(s.record.analysedCount, 8000);
    EXPECT_EQ(LossPercent(s.record), 0.0);  // the dialog's figure, over both runs
    // Only the held-up packet is late for a playout buffer.
    EXPECT_EQ(s.jitterBuffer->recommendedMs, 20);
    EXPECT_DOUBLE_EQ(s.jitterBuffer->latePercent.back(), 100.0 / (16000 - 10));
}

// A sender that ends its run on purpose ends its session at the next report; the packets a
// stop left unsent in its last group are no loss. An end that does not fit the run, or one
// the run outlives, ends nothing and changes no figure.
TEST(SessionTable, TheSendersEndOfRunEndsItsSessionAtTheNextReport) {
    const TestSender sender{Local(5001)};
    const auto fixed = [](int64_t, int32_t) { return 5.0; };
    const auto play = [&](bool forgedEnds, bool realEnd) {
        ManualClock clock;
        SessionTable table(clock);
        Traffic traffic;
        traffic.Stream(sender, 0, 20, 0.0, fixed);
        // The stop came after two packets of group 20; the end is sent twice more.
        traffic.Stream(sender, 20, 1, 200.0, fixed, [](int64_t, int32_t index) { return index < 2; });
        if (forgedEnds) {
            traffic.Raw(100.0, sender.source, sender.End(9, 4, 90.5));   // the run outlives it
            traffic.Raw(101.0, sender.source, sender.End(5, 4, 95.0));   // before the latest group
            traffic.Raw(102.0, sender.source, sender.End(12, 4, 80.0));  // its counter before the latest
        }
        for (int copy = 0; realEnd && copy < kEndOfRunCopies; ++copy) {
            traffic.Raw(206.0, sender.source, sender.End(20, 2, 200.2));
        }
        traffic.Play(table, clock);
        clock.SetMs(1206.0);  // a second on: a sender that did not say it ended is silent by now
        return table.TakeReport(false);
    };
    const SessionsReport ended = play(false, true);
    ASSERT_EQ(ended.sessions.size(), 1u);
    const SessionFigures& s = ended.sessions[0];
    EXPECT_TRUE(s.final);
    EXPECT_EQ(s.ended, SessionEnd::BySender);
    EXPECT_EQ(ended.openSessions, 0);
    EXPECT_EQ(s.packets.expected, 82);
    EXPECT_EQ(s.packets.lost, 0);
    EXPECT_FALSE(s.silent);
    EXPECT_EQ(s.interval.packets.lost, 0);
    EXPECT_EQ(ended.notTestPackets, 0);

    const SessionsReport forged = play(true, false);
    ASSERT_EQ(forged.sessions.size(), 1u);
    EXPECT_FALSE(forged.sessions[0].final);
    EXPECT_EQ(forged.notTestPackets, 2);
    ExpectSameMeasurement(forged.sessions[0], play(false, false).sessions.at(0));
}

// A clean stream, with or without hostile datagrams from its own address among it.
SessionsReport RunWithHostiles(bool hostile, int& hostileCount, int& lossIgnored) {
    const TestSender sender{Local(5001)};
    ManualClock clock;
    SessionTable table(clock);
    Traffic traffic;
    traffic.Stream(sender, 0, 300, 0.0, Wavy(5.0),
                   [](int64_t group, int32_t index) { return group % 50 != 25 || index != 0; });
    // Before the sender's first packet, and not from it: no session.
    traffic.Raw(-5.0, Local(6000), sender.Packet(0, 1, 0.0));
    traffic.Raw(-4.0, Local(6000), std::vector<uint8_t>(31));
    hostileCount = 0;
    lossIgnored = 0;
    std::mt19937_64 random(99);
    // From group 4 on: the group size the packets state is trusted once three groups agreed.
    for (int64_t group = 4; hostile && group < 300; group += 3) {
        const double at = static_cast<double>(group) * kGroupMs + 2.5;
        std::vector<std::vector<uint8_t>> bad;
        for (const int64_t frequency : {int64_t{0}, -kSenderFrequency, int64_t{-1}}) {
            bad.push_back(sender.Packet(group, 0, at));
            WritePacketHeader(bad.back().data(), TestPacketHeader{0, group, 1, frequency});
        }
        for (const int64_t farGroup : {group + (int64_t{1} << 40), std::numeric_limits<int64_t>::max(), -group}) {
            bad.push_back(sender.Packet(0, 0, at));
            WritePacketHeader(bad.back().data(),
                              TestPacketHeader{0, farGroup, std::numeric_limits<int64_t>::max(), kSenderFrequency});
        }
        // Headers a sender could write, one kind per group, each out of step with the run.
        const int64_t counter = std::llround(at * kSenderFrequency / 1000.0);
        const TestPacketHeader steer[] = {
            {0, 0, counter, 1},                                          // another clock, group 0
            {0, group + (int64_t{1} << 20), counter, kSenderFrequency},  // far ahead, in time
            {0, std::numeric_limits<int64_t>::max() - 1, counter, kSenderFrequency},
            {0, 0, counter - 5 * kSenderFrequency, kSenderFrequency},             // 5 s in the past
            {0, group - 1, counter + 1000 * kSenderFrequency, kSenderFrequency},  // a copy, 1000 s on
            {0, 0, counter, kSenderFrequency},                                    // a restart's first packet
        };
        bad.push_back(sender.Packet(group, 0, at));
        WritePacketHeader(bad.back().data(), steer[(group / 3) % std::size(steer)]);
        std::vector<uint8_t> randomHeader(kPacketSize);
        for (uint8_t& byte : randomHeader) {
            byte = static_cast<uint8_t>(random());
        }
        std::fill(randomHeader.begin(), randomHeader.begin() + 4, 0);  // index 0: analysed if accepted
        bad.push_back(randomHeader);
        bad.push_back(sender.Packet(group, 0, at));
        bad.back().resize(31);
        bad.push_back({});
        for (std::vector<uint8_t>& datagram : bad) {
            traffic.Raw(at, sender.source, std::move(datagram));
            ++hostileCount;
        }
        // Taken as packets of the run, then left out by the loss count: an index beyond the
        // group size, and a packet that states no size.
        traffic.Raw(at, sender.source, sender.Packet(group, 65535, at));
        traffic.Raw(at, sender.source, sender.Packet(group, 3, at));
        WriteGroupSize(traffic.LastBytes(), 0);
        lossIgnored += 2;
    }
    traffic.Play(table, clock);
    if (hostile) {  // too long for the receive buffer: read by nobody, yet sent by someone
        ReceivedDatagram oversized;
        oversized.truncated = true;
        oversized.fullLength = 2048;
        oversized.source = sender.source;
        table.TakeDatagram(oversized);
        ++hostileCount;
    }
    return table.TakeReport(true);
}

// A session measures from the arrival the receive stamped: any clock reading of its own, here
// 1 s later at every reading, would shift the reference and every delay after it.
TEST(SessionTable, ASessionAnalysesTheReceivesOwnStamp) {
    ManualClock clock;
    clock.onCounter = [&clock](int) { clock.now += 1'000'000'000; };
    SessionTable table(clock);
    const TestSender sender{Local(5001), 1};
    std::vector<std::vector<uint8_t>> packets;
    for (int64_t group = 0; group < 3; ++group) {
        packets.push_back(sender.Packet(group, 0, static_cast<double>(group) * kGroupMs));
        // Delays of 4, 5 and 6 ms: relative delays 0, 1 and 2 ms, jitter 1 ms.
        const int64_t arrivalNs = (group * 10 + 4 + group) * 1'000'000;
        table.TakeDatagram(Received(packets.back(), arrivalNs, sender.source));
    }
    const SessionFigures s = table.TakeReport(true).sessions.at(0);
    EXPECT_EQ(s.record.firstLocalCounter, 4'000'000);
    EXPECT_EQ(s.record.lastLocalCounter, 26'000'000);
    EXPECT_NEAR(s.delay->max, 2.0, 1e-9);
    EXPECT_NEAR(s.jitter->max, 1.0, 1e-9);
}

TEST(SessionTable, HostileDatagramsFromTheSendersOwnAddressChangeNoFigure) {
    int none = 0;
    int hostiles = 0;
    int lossIgnored = 0;
    const SessionsReport clean = RunWithHostiles(false, none, none);
    const SessionsReport attacked = RunWithHostiles(true, hostiles, lossIgnored);
    ASSERT_GT(hostiles, 500);
    ASSERT_EQ(clean.sessions.size(), 1u);
    ASSERT_EQ(attacked.sessions.size(), 1u);
    const SessionFigures& s = attacked.sessions[0];
    ExpectSameMeasurement(s, clean.sessions[0]);
    EXPECT_EQ(s.packets.lost, 6);
    EXPECT_EQ(s.packets.firstPacketsLost, 6);
    EXPECT_EQ(s.packets.ignored, lossIgnored);
    EXPECT_EQ(clean.sessions[0].packets.ignored, 0);
    EXPECT_EQ(s.notTestPackets, hostiles);
    EXPECT_EQ(s.record.ignoredCount, hostiles);
    EXPECT_EQ(clean.notTestPackets, 2);  // the two from another address, which start nothing
    EXPECT_EQ(attacked.notTestPackets, 2 + hostiles);
    for (const auto& summary : {s.jitter, s.delay, s.delaySkewRemoved}) {
        EXPECT_TRUE(std::isfinite(summary->min) && std::isfinite(summary->max) && std::isfinite(summary->stddev));
    }
    EXPECT_TRUE(std::isfinite(s.record.jitterMeanSquare) && std::isfinite(s.record.absDelayMean));
    EXPECT_TRUE(std::isfinite(s.rfc3550JitterMs.value()));
}

// 300 spoofed sources with one test packet each every 0.5 s: none becomes a session, the
// real sender keeps its session and every packet, and the totals count them.
TEST(SessionTable, AFloodOfSpoofedSourcesNeverTakesTheRealSendersPlace) {
    const TestSender real{Local(5001)};
    ManualClock clock;
    SessionTable table(clock, SessionTableSettings{10.0, 16});
    Traffic traffic;
    traffic.Stream(real, 0, 1000, 0.0, [](int64_t, int32_t) { return 1.0; });
    for (int burst = 0; burst < 20; ++burst) {
        for (uint32_t spoofed = 0; spoofed < 300; ++spoofed) {
            const TestSender fake{Endpoint::Ipv4(0x0A000000 + spoofed + 300 * static_cast<uint32_t>(burst), 9)};
            traffic.Raw(burst * 500.0 + spoofed * 0.01, fake.source, fake.Packet(burst, 0, 0.0));
        }
    }
    traffic.Play(table, clock);
    const SessionsReport report = table.TakeReport(false);
    ASSERT_EQ(report.sessions.size(), 1u);
    EXPECT_EQ(report.sessions[0].session, 1);
    EXPECT_EQ(report.sessions[0].packets.received, 4000);
    EXPECT_EQ(report.sessions[0].notTestPackets, 0);
    EXPECT_EQ(report.openSessions, 1);
    EXPECT_EQ(report.unconfirmedSources, 6000);
    EXPECT_EQ(report.droppedSessions, 0);
    EXPECT_EQ(report.refusedSessions, 0);
    // The oldest records were forgotten for room (their packets were no test packets); the
    // rest go with the time-out.
    EXPECT_EQ(report.notTestPackets, 6000 - static_cast<int64_t>(kMaxUnconfirmedSources));
    EXPECT_EQ(report.forgottenSources, 6000 - static_cast<int64_t>(kMaxUnconfirmedSources));
    clock.SetMs(10'000.0 + 20'000.0);
    const SessionsReport later = table.TakeReport(false);
    EXPECT_EQ(later.notTestPackets, 6000);
    EXPECT_EQ(later.forgottenSources, 6000);
    EXPECT_EQ(later.unconfirmedSources, 6000);
}

// A full table refuses a newcomer while its sessions are heard from; a session silent for
// more than three of its periods makes room; quiet ones end after the time-out.
TEST(SessionTable, AFullTableRefusesNewcomersUntilASessionFallsSilent) {
    const TestSender a{Local(5001)};
    const TestSender b{Local(5002)};
    const TestSender newcomer{Local(5003)};
    ManualClock clock;
    SessionTable table(clock, SessionTableSettings{10.0, 2});
    Traffic traffic;
    const auto oneMs = [](int64_t, int32_t) { return 1.0; };
    traffic.Stream(a, 0, 200, 0.0, oneMs);
    traffic.Stream(b, 0, 100, 0.5, oneMs);  // silent from 1 s on
    traffic.Stream(newcomer, 0, 2, 995.0, oneMs);
    traffic.Stream(newcomer, 2, 98, 1015.0, oneMs);
    traffic.Play(table, clock);
    const SessionsReport report = table.TakeReport(false);
    EXPECT_EQ(report.refusedSessions, 1);  // at 995 ms b was heard from 5 ms before
    EXPECT_EQ(report.refusedPackets, 12);  // groups 0 to 2; at 1025 ms b had been silent for 34.5 ms
    EXPECT_EQ(report.droppedSessions, 1);  // at 1026 ms b had been silent for more than 3 periods
    EXPECT_EQ(report.openSessions, 2);
    ASSERT_EQ(report.sessions.size(), 3u);
    EXPECT_EQ(report.sessions[0].source, a.source);
    EXPECT_EQ(report.sessions[0].packets.received, 800);
    EXPECT_EQ(report.sessions[1].source, newcomer.source);
    EXPECT_TRUE(report.sessions[2].final);
    EXPECT_EQ(report.sessions[2].packets.received, 400);
    EXPECT_EQ(report.unconfirmedSources, 0);

    // Quiet for less than the time-out: still open; then ended, told once, and gone.
    clock.SetMs(2'000.0 + 9'000.0);
    EXPECT_EQ(table.TakeReport(false).sessions.size(), 2u);
    clock.SetMs(2'000.0 + 10'000.0);
    const SessionsReport timedOut = table.TakeReport(false);
    EXPECT_EQ(timedOut.sessions.size(), 2u);
    EXPECT_EQ(timedOut.openSessions, 0);
    EXPECT_TRUE(std::all_of(timedOut.sessions.begin(), timedOut.sessions.end(),
                            [](const SessionFigures& s) { return s.final; }));
    EXPECT_TRUE(table.TakeReport(false).sessions.empty());
}

TEST(SessionTable, APolicedStreamLosesEightyPercentOverEveryPacketButNoFirstPacket) {
    TestSender sender{Local(5001), 100};
    ManualClock clock;
    SessionTable table(clock);
    Traffic traffic;
    const Passes firstTwenty = [](int64_t, int32_t index) { return index < 20; };
    traffic.Stream(sender, 0, 200, 0.0, Wavy(3.0), firstTwenty);
    traffic.Play(table, clock);
    const SessionFigures early = table.TakeReport(false).sessions.at(0);
    traffic.Stream(sender, 200, 300, 2000.0, Wavy(3.0), firstTwenty);
    traffic.Play(table, clock);
    const SessionFigures s = table.TakeReport(true).sessions.at(0);
    EXPECT_EQ(s.packets.received, 500 * 20);
    EXPECT_EQ(s.packets.lost, 500 * 80);
    EXPECT_DOUBLE_EQ(s.packets.LossPercent().value(), 80.0);
    EXPECT_EQ(s.packets.longestLossRun, 80);
    EXPECT_EQ(s.packets.firstPacketsLost, 0);
    EXPECT_EQ(LossPercent(s.record), 0.0);  // the dialog's first-packet loss
    // The interval's counts are the differences of the cumulative ones.
    EXPECT_EQ(early.packets.received, 200 * 20);
    EXPECT_EQ(s.interval.packets.received, 300 * 20);
    EXPECT_EQ(s.interval.packets.lost, s.packets.lost - early.packets.lost);
    EXPECT_EQ(s.interval.packets.expected, s.packets.expected - early.packets.expected);
    EXPECT_EQ(s.interval.packets.longestLossRun, 80);
    EXPECT_EQ(s.interval.jitter->count, 300 * 20);
    EXPECT_EQ(s.interval.delay->count, 300 * 20);
    EXPECT_EQ(early.interval.delay->count, 200 * 20);
}

// The interval counts summed over the reports.
struct IntervalSums {
    int64_t received = 0;
    int64_t lost = 0;
    int64_t expected = 0;
    void Add(const LossFigures& interval) {
        received += interval.received;
        lost += interval.lost;
        expected += interval.expected;
    }
};

// Plays the traffic up to `atMs` and reports there: the one session's figures.
SessionFigures ReportAt(SessionTable& table, ManualClock& clock, Traffic& traffic, double atMs, bool final = false) {
    traffic.PlayUntil(table, clock, atMs);
    clock.SetMs(atMs);
    const SessionsReport report = table.TakeReport(final);
    EXPECT_EQ(report.sessions.size(), 1u);
    return report.sessions.empty() ? SessionFigures{} : report.sessions[0];
}

// A path dead for 20 s of a 60 s run, reported each second: every interval inside the outage
// is silent and loses all 100 groups due in it, the session keeps its number (the default
// time-out outlasts the outage), and the totals count the gap once, from the group numbers,
// as the intervals add up to them.
TEST(SessionTable, ASilentSendersIntervalsLoseEveryGroupDueAndItsTotalsTheGapOnce) {
    const TestSender sender{Local(5001)};
    ManualClock clock;
    SessionTable table(clock);
    Traffic traffic;
    traffic.Stream(
        sender, 0, 6000, 0.0, [](int64_t, int32_t) { return 1.0; },
        [](int64_t group, int32_t) { return group < 2000 || group >= 4000; });
    IntervalSums sums;
    for (int at = 1; at <= 60; ++at) {
        SCOPED_TRACE(at);
        const SessionFigures s = ReportAt(table, clock, traffic, at * 1000.0, at == 60);
        sums.Add(s.interval.packets);
        EXPECT_EQ(s.session, 1);
        EXPECT_EQ(s.run, 1);
        const bool dead = at > 20 && at <= 40;
        EXPECT_EQ(s.silent, dead);
        if (dead) {
            EXPECT_NEAR(s.lastPacketAgeSeconds, at - 19.99115, 1e-9);  // group 1999 arrived last
            EXPECT_EQ(s.interval.packets.received, 0);
            EXPECT_EQ(s.interval.packets.expected, 400);
            EXPECT_EQ(s.interval.packets.LossPercent(), 100.0);
            EXPECT_EQ(s.packets.lost, 0);  // the totals wait for the group numbers
        } else if (at > 40) {
            EXPECT_EQ(s.interval.packets.lost, 0);  // the gap was told while it lasted
        }
        if (at == 60) {
            EXPECT_EQ(s.packets.lost, 2000 * 4);
            EXPECT_EQ(s.packets.expected, 6000 * 4);
            EXPECT_EQ(sums.lost, s.packets.lost);
            EXPECT_EQ(sums.expected, s.packets.expected);
            EXPECT_EQ(sums.received, s.packets.received);
        }
    }
}

// A path that flaps (dead, back for ten groups, dead again before the first gap has left the
// loss window) counts each gap once; a sender that restarts while silent begins its new group
// numbers with nothing counted, and its next silence shows at once.
TEST(SessionTable, AFlappingPathCountsEachGapOnceAndARestartForgetsWhatSilenceCounted) {
    TestSender sender{Local(5001)};
    ManualClock clock;
    SessionTable table(clock);
    Traffic traffic;
    const DelayMs oneMs = [](int64_t, int32_t) { return 1.0; };
    traffic.Stream(sender, 0, 1000, 0.0, oneMs,
                   [](int64_t group, int32_t) { return group < 300 || (group >= 350 && group < 360) || group >= 410; });
    IntervalSums sums;
    int silentReports = 0;
    SessionFigures s;
    for (int at = 1; at <= 50; ++at) {
        s = ReportAt(table, clock, traffic, at * 200.0);
        sums.Add(s.interval.packets);
        if (s.silent) {
            ++silentReports;
            EXPECT_EQ(s.interval.packets.received, 0) << at;
            EXPECT_EQ(s.interval.packets.lost, s.interval.packets.expected) << at;
        }
    }
    EXPECT_EQ(silentReports, 4);  // at 3.2, 3.4, 3.8 and 4.0 s
    // The window has closed through group 934: both gaps are in the totals, once.
    EXPECT_EQ(s.packets.lost, 100 * 4);
    EXPECT_EQ(sums.lost, s.packets.lost);
    EXPECT_EQ(sums.expected, s.packets.expected);

    // Silent for a second, then started again: its new run's group numbers never close the old
    // run's silence, and its own silence counts from its own groups.
    s = ReportAt(table, clock, traffic, 12'000.0);
    ASSERT_TRUE(s.silent);
    EXPECT_EQ(s.interval.packets.lost, 200 * 4);  // groups 1000 to 1199, since 9.991 s
    sender.counterAtZero = 77 * kSenderFrequency;
    traffic.Stream(sender, 0, 100, 12'010.0, oneMs);
    s = ReportAt(table, clock, traffic, 13'500.0);
    EXPECT_EQ(s.run, 2);
    EXPECT_TRUE(s.silent);
    EXPECT_EQ(s.interval.packets.lost, 49 * 4);  // due since group 99 arrived, 499 ms before
}

TEST(SessionTable, TakingADatagramAllocatesNothingOnceWarmedUp) {
    std::mt19937 random(5);
    std::exponential_distribution<double> queueing(2.0);
    TestSender sender{Local(5001), 3};
    sender.ppm = 20;
    ManualClock clock;
    SessionTable table(clock);
    int64_t allocations = 0;
    constexpr int64_t kGroups = 120'000;  // more than 3 hours at 10 groups/s
    for (int64_t group = 0; group < kGroups; ++group) {
        for (int32_t index = 0; index < sender.groupSize; ++index) {
            const double sendMs = static_cast<double>(group) * 100.0 + index;
            const std::vector<uint8_t> packet = sender.Packet(group, index, sendMs);
            clock.SetMs(sendMs + 4.0 + queueing(random));
            const int64_t before = AllocationCount();
            table.TakeDatagram(Received(packet, clock.now, sender.source, 0xB8));
            if (group >= 100) {
                allocations += AllocationCount() - before;
            }
        }
        if (group % 10'000 == 0) {
            EXPECT_EQ(table.TakeReport(false).sessions.size(), 1u);
        }
    }
    EXPECT_EQ(allocations, 0);
    const SessionFigures s = table.TakeReport(true).sessions.at(0);
    EXPECT_EQ(s.packets.received, 3 * kGroups);
    EXPECT_EQ(s.record.dscpCounts[46], 3 * kGroups);  // EF
    EXPECT_NEAR(s.skewPpm.value(), 20.0, 1.0);
}

// Under ThreadSanitizer: the receiving and the report thread share the table through its lock.
TEST(SessionTable, TheReceivingAndTheReportThreadShareTheTable) {
    const TestSender sender{Local(5001), 2};
    ManualClock clock;
    SessionTable table(clock);
    std::atomic<bool> done{false};
    std::thread receiving([&] {
        for (int64_t group = 0; group < 5000; ++group) {
            for (int32_t index = 0; index < 2; ++index) {
                const auto packet = sender.Packet(group, index, static_cast<double>(group) * kGroupMs);
                clock.SetMs(static_cast<double>(group) * kGroupMs + 1.0);
                table.TakeDatagram(Received(packet, clock.now, sender.source));
            }
        }
        done = true;
    });
    int64_t received = 0;
    while (!done) {
        for (const SessionFigures& s : table.TakeReport(false).sessions) {
            received += s.interval.packets.received;
        }
        // Reports come often, not back to back: a report loop that never lets go of the lock
        // starved the receiving thread for a minute and more under the sanitizers.
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    receiving.join();
    received += table.TakeReport(true).sessions.at(0).interval.packets.received;
    EXPECT_EQ(received, 10'000);
}

}  // namespace
