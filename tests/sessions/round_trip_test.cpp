// The round trip's parts without a network: the blocks after the tag, the reflector's count of
// each source's packets, and the sender's analysis of the echoes.

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "measure/end_of_run.h"
#include "measure/packet_blocks.h"
#include "measure_test_support.h"
#include "sessions/reflector_sources.h"
#include "sessions/round_trip.h"

namespace {

constexpr int64_t kFrequency = 1'000'000'000;  // ns, as the monotonic counter
constexpr int64_t kMs = 1'000'000;
const Endpoint kSender = Endpoint::Ipv4(0x7F000001, 40000);
const Endpoint kReflector = Endpoint::Ipv4(0x7F000001, 13014);

// Packet `sequence` of a run of one packet per group, sent at sequence * 20 ms.
std::vector<uint8_t> Sent(int64_t sequence, uint32_t size = 172) {
    return MakePacket(0, sequence, sequence * 20 * kMs, kFrequency, size);
}

}  // namespace

TEST(PacketBlocks, TheStampsFollowTheSendersBlocksAndNoLengthReachesPastTheDatagram) {
    std::vector<uint8_t> packet = Sent(0, 120);
    const uint8_t name[] = {'n', 'o', 'r', 't', 'h'};
    ASSERT_TRUE(WriteFillerBlock(packet.data(), 120, 48, {'N', 'A', 'M', 'E'}, name));
    ASSERT_TRUE(WriteStampsBlock(packet.data(), 120, ReflectorStamps{5, 7, 3}));
    EXPECT_EQ(packet[48 + 5 + 5], 'S');  // after the name, which stays whole
    EXPECT_TRUE(FindFillerBlock(packet, {'N', 'A', 'M', 'E'}));
    const std::optional<ReflectorStamps> read = ReadStampsBlock(packet.data(), 120);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->receivedNs, 5);
    EXPECT_EQ(read->sentNs, 7);
    EXPECT_EQ(read->packetsFromSource, 3);

    // A block that runs past the end makes every block untrusted: nothing is written behind it.
    std::vector<uint8_t> hostile = Sent(0, 100);
    hostile[48] = 'X';
    hostile[52] = 255;
    EXPECT_FALSE(FillerBlocksEnd(hostile.data(), 100));
    EXPECT_FALSE(WriteStampsBlock(hostile.data(), 100, ReflectorStamps{}));
    hostile[52] = 20;  // ends at byte 73: 27 bytes left, too few for the stamps' 29
    EXPECT_EQ(*FillerBlocksEnd(hostile.data(), 100), 73u);
    EXPECT_FALSE(WriteStampsBlock(hostile.data(), 100, ReflectorStamps{}));
    EXPECT_FALSE(WriteStampsBlock(Sent(0, 120).data(), kStampedPacketMinSize - 1, ReflectorStamps{}));
}

TEST(ReflectorSources, EachSourcesRunIsCountedAndAStrayDatagramChangesNoCount) {
    ReflectorSources sources({10, 8}, kFrequency);
    const Endpoint other = Endpoint::Ipv4(0x7F000001, 40001);
    for (int64_t s = 0; s < 5; ++s) {
        const std::vector<uint8_t> packet = Sent(s);
        const ReflectorDecision decision = sources.Take(Received(packet, s * 20 * kMs + kMs, kSender));
        EXPECT_EQ(decision.verdict, ReflectorVerdict::Answer);
        EXPECT_EQ(decision.packetsFromSource, s + 1);
    }
    // Another sender has a count of its own.
    const std::vector<uint8_t> first = Sent(0);
    EXPECT_EQ(sources.Take(Received(first, 100 * kMs, other)).packetsFromSource, 1);
    // A datagram of another run from the sender's own address cannot start a run alone; the
    // sender's next packet is its sixth.
    const std::vector<uint8_t> stray = MakePacket(0, 1'000'000, 7, kFrequency, 172);
    sources.Take(Received(stray, 101 * kMs, kSender));
    const std::vector<uint8_t> sixth = Sent(5);
    EXPECT_EQ(sources.Take(Received(sixth, 101 * kMs, kSender)).packetsFromSource, 6);
}

TEST(ReflectorSources, NothingIsAnsweredThatIsStampedShortOrBeyondTheBound) {
    ReflectorSources sources({1, 1}, kFrequency);
    std::vector<uint8_t> stamped = Sent(0);
    WriteStampsBlock(stamped.data(), 172, ReflectorStamps{1, 2, 1});
    EXPECT_EQ(sources.Take(Received(stamped, 0, kSender)).verdict, ReflectorVerdict::AlreadyStamped);
    const std::vector<uint8_t> tooShort = Sent(0, kStampedPacketMinSize - 1);
    EXPECT_EQ(sources.Take(Received(tooShort, 0, kSender)).verdict, ReflectorVerdict::TooShort);
    const std::vector<uint8_t> notTest = MakePacket(0, 0, 0, 0, 172);  // a frequency of 0
    EXPECT_EQ(sources.Take(Received(notTest, 0, kSender)).verdict, ReflectorVerdict::NotTestPacket);
    EXPECT_EQ(sources.Sources(), 0u);  // what is no test packet takes no place

    // Full: a newcomer waits until the source it would push out has been quiet for the time-out.
    const std::vector<uint8_t> packet = Sent(0);
    EXPECT_EQ(sources.Take(Received(packet, 0, kSender)).verdict, ReflectorVerdict::Answer);
    const Endpoint newcomer = Endpoint::Ipv4(0x7F000001, 40002);
    EXPECT_EQ(sources.Take(Received(packet, 500 * kMs, newcomer)).verdict, ReflectorVerdict::Refused);
    EXPECT_EQ(sources.Take(Received(packet, 1001 * kMs, newcomer)).verdict, ReflectorVerdict::Answer);
    EXPECT_EQ(sources.Sources(), 1u);
}

namespace {

// A sender's run of one packet per group and the echoes a reflector returns: each packet is
// sent, reaches the reflector `outMs` later (unless lost), waits `holdMs` there and comes back
// `backMs` later (unless lost).
class EchoScript {
  public:
    EchoScript() : log_(std::make_shared<SentPacketLog>(1, nullptr)), analysis_(kReflector, log_, kFrequency) {}

    std::vector<uint8_t> Send(int64_t sequence) {
        std::vector<uint8_t> packet = Sent(sequence);
        log_->Finish(packet.data(), 172);
        return packet;
    }

    void Echo(int64_t sequence,
              double outMs,
              double holdMs,
              double backMs,
              bool lostOut = false,
              bool lostBack = false) {
        std::vector<uint8_t> packet = Send(sequence);
        if (lostOut) {
            return;
        }
        ++reflected_;
        const int64_t arrived = 5'000 * kMs + sequence * 20 * kMs + static_cast<int64_t>(outMs * kMs);  // its clock
        const auto sent = arrived + static_cast<int64_t>(holdMs * kMs);
        WriteStampsBlock(packet.data(), 172, ReflectorStamps{arrived, sent, reflected_});
        if (!lostBack) {
            Take(packet, sequence * 20 * kMs + static_cast<int64_t>((outMs + holdMs + backMs) * kMs));
        }
    }

    void Take(const std::vector<uint8_t>& packet, int64_t arrival, const Endpoint& from = kReflector) {
        analysis_.Take(Received(packet, arrival, from));
    }

    RoundTripFigures Report() { return analysis_.TakeReport(); }

  private:
    std::shared_ptr<SentPacketLog> log_;
    RoundTripAnalysis analysis_;
    int64_t reflected_ = 0;
};

}  // namespace

TEST(RoundTripAnalysis, TheReflectorsHoldIsTakenOutAndEachWaysLossAndVariationIsItsOwn) {
    EchoScript script;
    for (int64_t s = 0; s < 10; ++s) {
        // The way out grows by 2 ms at packet 5; the way back never changes.
        script.Echo(s, s >= 5 ? 6 : 4, s == 2 ? 30 : 0.5, 4, s == 3, s == 6);
    }
    const RoundTripFigures f = script.Report();
    EXPECT_EQ(f.echoes, 8);
    EXPECT_EQ(f.sentThrough, 10);
    EXPECT_EQ(f.forwardLost, 1);
    EXPECT_EQ(f.returnLost, 1);
    EXPECT_EQ(f.forwardLossRuns, 1);
    ASSERT_TRUE(f.run.roundTrip && f.run.turnaround && f.run.forwardPdv && f.run.returnPdv);
    EXPECT_NEAR(f.run.roundTrip->min, 8, 0.001);  // the 30 ms hold is the reflector's, not the path's
    EXPECT_NEAR(f.run.roundTrip->max, 10, 0.001);
    EXPECT_NEAR(f.run.turnaround->max, 30, 0.001);
    EXPECT_NEAR(f.run.forwardPdv->max, 2, 0.001);
    EXPECT_NEAR(f.run.returnPdv->max, 0, 0.001);
    EXPECT_FALSE(script.Report().interval.roundTrip);  // the interval starts over
}

TEST(RoundTripAnalysis, OnlyTheFirstEchoOfAPacketThisRunSentCounts) {
    EchoScript script;
    script.Echo(0, 4, 0.5, 4);
    std::vector<uint8_t> echo = script.Send(1);
    WriteStampsBlock(echo.data(), 172, ReflectorStamps{0, kMs, 2});
    const int64_t arrival = 20 * kMs + 10 * kMs;
    script.Take(echo, arrival, Endpoint::Ipv4(0x7F000001, 13015));  // from elsewhere
    std::vector<uint8_t> forged = echo;
    WritePacketHeader(forged.data(), TestPacketHeader{0, 1, 20 * kMs + 1, kFrequency});  // a counter never sent
    script.Take(forged, arrival);
    std::vector<uint8_t> held = script.Send(2);
    WriteStampsBlock(held.data(), 172, ReflectorStamps{0, 50 * kMs, 3});  // held longer than it was away
    script.Take(held, 40 * kMs + 10 * kMs);
    script.Take(echo, arrival);
    script.Take(echo, arrival + kMs);  // a copy
    const RoundTripFigures f = script.Report();
    EXPECT_EQ(f.refusedEchoes, 3);
    EXPECT_EQ(f.duplicateEchoes, 1);
    EXPECT_EQ(f.echoes, 2);
    EXPECT_NEAR(f.run.roundTrip->max, 9, 0.001);
}

namespace {

// A finisher that leaves room for a trailer and counts what it finished.
struct CountingFinisher : PacketFinisher {
    void Finish(uint8_t*, uint32_t) override { ++finished; }
    uint32_t TrailerSize() const override { return 16; }
    int finished = 0;
};

}  // namespace

TEST(SentPacketLog, AnEndOfRunIsPassedOnUnloggedWithRoomForTheNextFinishersTrailer) {
    const auto tag = std::make_shared<CountingFinisher>();
    SentPacketLog log(1, tag);
    EXPECT_EQ(log.TrailerSize(), 16u);
    std::vector<uint8_t> end(kEndOfRunSize + 16);
    WriteEndOfRun(end.data(), EndOfRun{0, 1, 5});
    log.Finish(end.data(), static_cast<uint32_t>(end.size()));  // shorter than a header: never read as one
    EXPECT_EQ(tag->finished, 1);
    EXPECT_FALSE(log.Sent(0, 5));
}
