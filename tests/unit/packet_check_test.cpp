#include "measure/packet_check.h"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "measure_test_support.h"

namespace {

constexpr int64_t kF = 10'000'000;  // the run's counter frequency
constexpr int64_t kArrivalFrequency = 1'000'000'000;
constexpr int64_t kMax = std::numeric_limits<int64_t>::max();

using K = DatagramKind;

// One datagram: its header (the counter in ms of the sender's clock) and its arrival in ms.
struct Step {
    int32_t index;
    int64_t group;
    double counterMs;
    double arrivalMs;
    K expected;
    int64_t frequency = kF;
    uint32_t length = 64;
};

class Checking : public ::testing::Test {
  protected:
    K Feed(const Step& s) {
        const auto counter = static_cast<int64_t>(s.counterMs * static_cast<double>(s.frequency) / 1000.0);
        const std::vector<uint8_t> datagram = MakePacket(s.index, s.group, counter, s.frequency, s.length);
        return check.Classify(Received(datagram, static_cast<int64_t>(s.arrivalMs * 1e6)), kArrivalFrequency).kind;
    }
    void Expect(const std::string& name, const std::vector<Step>& steps) {
        for (size_t i = 0; i < steps.size(); ++i) {
            EXPECT_EQ(Feed(steps[i]), steps[i].expected) << name << ", step " << i;
        }
    }
    // A run of `groups` groups of one packet, 10 ms apart, from group 0 at 0 ms.
    void Run(int64_t groups) {
        for (int64_t group = 0; group < groups; ++group) {
            const K kind = Feed({0, group, group * 10.0, group * 10.0 + 1, K::FirstOfGroup});
            ASSERT_EQ(kind, group < 2 ? K::Held : group == 2 ? K::NewRun : K::FirstOfGroup) << group;
        }
        ASSERT_EQ(check.TakeDroppedPackets(), 0);
    }

    PacketCheck check;
};

TEST_F(Checking, ARunBeginsWhenThreePacketsAgreeAndTheyAreTakenInOrder) {
    Expect("malformed headers are never held", {{0, 10, 100, 1, K::NotTestPacket, kF, 31},
                                                {0, 10, 100, 1, K::NotTestPacket, 0},
                                                {0, 10, 100, 1, K::NotTestPacket, -kF},
                                                {-1, 10, 100, 1, K::NotTestPacket},
                                                {0, -5, 100, 1, K::NotTestPacket}});
    Expect("packets that disagree start the candidate again",
           {{0, 10, 100, 1, K::Held},
            {0, 10, 100, 2, K::Held, 1'000'000'000},  // another clock
            {1, 10, 100, 3, K::Held},                 // not after the one before
            {0, 11, 90, 4, K::Held},                  // sent before it
            {0, 100, 200, 5, K::Held}});              // too far ahead
    EXPECT_EQ(check.TakeDroppedPackets(), 4);
    EXPECT_FALSE(check.RunStarted());
    Expect("three in a row confirm", {{1, 100, 200.05, 6, K::Held}, {0, 101, 210, 7, K::NewRun}});
    ASSERT_EQ(check.ConfirmedPackets().size(), 3u);
    EXPECT_EQ(check.ConfirmedPackets()[0].header.groupNumber, 100);
    EXPECT_EQ(check.ConfirmedPackets()[2].arrival, 7'000'000);
    EXPECT_EQ(check.TakeDroppedPackets(), 0);
    Expect("then the run goes on", {{2, 100, 200.1, 8, K::RestOfGroup}, {0, 102, 220, 9, K::FirstOfGroup}});
}

// One datagram of the sender's own address, whatever its header, changes nothing of the run:
// it waits, and the next packet of the run drops it.
TEST_F(Checking, NoSingleDatagramRestartsOrMovesTheRun) {
    Run(100);
    for (int64_t i = 0; i < 7; ++i) {
        // Between the run's groups 99 + i and 100 + i.
        const double t = 995.0 + 10.0 * static_cast<double>(i);
        const int64_t latest = 99 + i;
        const std::vector<Step> forged = {
            {0, 0, t, t, K::Held, 1},                            // another clock, group 0
            {0, latest + (1 << 20), t, t, K::Held},              // far ahead
            {0, kMax, t, t, K::Held},                            // at the top
            {0, 0, t - 5000, t, K::Held},                        // counter 5 s in the past
            {0, latest, 10.0 * latest + 1e6, t, K::Held},        // a copy 1000 s ahead
            {0, 1, t, t, K::Held},                               // a restart's first packet
            {0, latest + 70, 10.0 * (latest + 70), t, K::Held},  // further than the time allows
        };
        const Step& f = forged[static_cast<size_t>(i)];
        EXPECT_EQ(Feed(f), f.expected) << i;
        EXPECT_EQ(Feed({0, latest + 1, 10.0 * (latest + 1), t + 6, K::FirstOfGroup}), K::FirstOfGroup) << i;
        EXPECT_EQ(check.TakeDroppedPackets(), 1) << i;
    }
    Expect("copies and late packets",
           {{0, 106, 1060, 1080, K::CopyOfFirst},  // the first packet again: never analysed twice
            {3, 42, 420.2, 1081, K::RestOfGroup},  // 64 behind
            {3, 41, 410.2, 1082, K::Held}});       // 65 behind
}

TEST_F(Checking, AGenuineRestartWithin64GroupsIsANewRun) {
    Run(30);
    // Started again 0.3 s after group 29: group numbers from 0, counters later than the run's.
    Expect("restart", {{0, 0, 590, 591, K::Held}, {0, 1, 600, 601, K::Held}, {0, 2, 610, 611, K::NewRun}});
    EXPECT_EQ(check.LatestGroup(), 2);
    Expect("the old run's late packets are not the new run's",
           {{1, 29, 290.05, 612, K::Held}, {0, 3, 620, 621, K::FirstOfGroup}});
}

TEST_F(Checking, AJumpAheadIsAcceptedAsFarAsTheTimeAllows) {
    Run(100);  // 100 groups a second
    // 10 s of silence allow 2 x 100 x 10 + 64 groups ahead.
    Expect("within", {{0, 99 + 2064, 990 + 20640, 10'991, K::FirstOfGroup}});
    Expect("beyond, confirmed by three", {{0, 2163 + 2100, 21630 + 21000, 20'000, K::Held},
                                          {0, 2163 + 2101, 21630 + 21010, 20'010, K::Held},
                                          {0, 2163 + 2102, 21630 + 21020, 20'020, K::NewRun}});
}

}  // namespace
