#include "measure/packet_check.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "measure_test_support.h"

namespace {

constexpr int64_t kF = 10'000'000;     // the run's counter frequency
constexpr int64_t kG = 1'000'000'000;  // another sender's clock
constexpr int64_t kJump = 1000 + 2'000'000;

using K = DatagramKind;

struct Step {
    int32_t index;
    int64_t group;
    int64_t frequency;
    K expected;
    uint32_t length = 64;
};

struct Case {
    std::string name;
    std::vector<Step> steps;
};

// Each case feeds its datagrams to a fresh check, in order, and expects each one's kind.
const Case kCases[] = {
    {"a run starts only with a first packet",
     {{3, 1000, kF, K::NotTestPacket}, {0, 1000, kF, K::NewRun}, {3, 1000, kF, K::RestOfGroup}}},
    {"malformed headers are never test packets nor restarts",
     {{0, 1000, kF, K::NewRun},
      {0, 1001, kF, K::NotTestPacket, 31},
      {0, 0, 0, K::NotTestPacket},
      {0, 0, -kF, K::NotTestPacket},
      {-1, 1001, kF, K::NotTestPacket},
      {0, -5, kF, K::NotTestPacket},
      {0, INT64_MIN, kG, K::NotTestPacket},
      {0, 1001, kF, K::FirstOfGroup, 32}}},
    {"64 groups behind is late, 65 a restart (first packet) or junk (rest)",
     {{0, 1000, kF, K::NewRun},
      {0, 936, kF, K::FirstOfGroup},
      {5, 936, kF, K::RestOfGroup},
      {5, 935, kF, K::NotTestPacket},
      {0, 935, kF, K::NewRun},
      {0, 1000, kF, K::FirstOfGroup}}},
    {"the latest group never moves back",
     {{0, 1000, kF, K::NewRun},
      {0, 1005, kF, K::FirstOfGroup},
      {0, 1002, kF, K::FirstOfGroup},
      {1, 941, kF, K::RestOfGroup},
      {0, 940, kF, K::NewRun}}},
    {"a rest packet moves the latest group on",
     {{0, 1000, kF, K::NewRun}, {7, 1100, kF, K::RestOfGroup}, {0, 1035, kF, K::NewRun}}},
    {"1,048,576 groups ahead is accepted, one more is not",
     {{0, 1000, kF, K::NewRun},
      {0, 1000 + 1'048'577, kF, K::NotTestPacket},
      {3, 1000 + 1'048'577, kF, K::NotTestPacket},
      {0, 1000 + 1'048'576, kF, K::FirstOfGroup}}},
    {"three agreeing first packets confirm a jump",
     {{0, 1000, kF, K::NewRun},
      {0, kJump, kF, K::NotTestPacket},
      {0, kJump + 1, kF, K::NotTestPacket},
      {1, kJump + 1, kF, K::NotTestPacket},
      {0, kJump + 65, kF, K::FirstOfGroup},
      {1, kJump + 65, kF, K::RestOfGroup},
      {0, 1001, kF, K::NewRun}}},
    {"an accepted first packet between them breaks the agreement",
     {{0, 1000, kF, K::NewRun},
      {0, kJump, kF, K::NotTestPacket},
      {0, kJump + 1, kF, K::NotTestPacket},
      {0, 1001, kF, K::FirstOfGroup},
      {0, kJump + 2, kF, K::NotTestPacket},
      {0, kJump + 3, kF, K::NotTestPacket},
      {0, kJump + 4, kF, K::FirstOfGroup}}},
    {"jumps apart, repeated or backwards do not agree",
     {{0, 1000, kF, K::NewRun},
      {0, kJump, kF, K::NotTestPacket},
      {0, kJump + 65, kF, K::NotTestPacket},
      {0, kJump + 65, kF, K::NotTestPacket},
      {0, kJump + 64, kF, K::NotTestPacket},
      {0, kJump + 66, kF, K::NotTestPacket},
      {0, kJump + 67, kF, K::FirstOfGroup}}},
    {"other frequencies: a restart below group 64 with a first packet, junk otherwise",
     {{0, 10, kF, K::NewRun},
      {3, 5, kG, K::NotTestPacket},
      {0, 64, kG, K::NotTestPacket},
      {0, 11, kF, K::FirstOfGroup},
      {0, 63, kG, K::NewRun},
      {0, 64, kG, K::FirstOfGroup},
      {0, 65, kF, K::NotTestPacket},
      {3, 64, kF, K::NotTestPacket}}},
    {"group 0 again is a restart only once 65 groups have passed",
     {{0, 0, kF, K::NewRun},
      {0, 64, kF, K::FirstOfGroup},
      {0, 0, kF, K::FirstOfGroup},
      {0, 65, kF, K::FirstOfGroup},
      {0, 0, kF, K::NewRun}}},
};

TEST(PacketCheck, ClassifiesEachDatagramAgainstItsRun) {
    for (const Case& c : kCases) {
        PacketCheck check;
        for (size_t i = 0; i < c.steps.size(); ++i) {
            const Step& s = c.steps[i];
            const std::vector<uint8_t> datagram = MakePacket(s.index, s.group, 12345, s.frequency, s.length);
            EXPECT_EQ(check.Classify(datagram.data(), s.length).kind, s.expected) << c.name << ", step " << i;
        }
    }
}

}  // namespace
