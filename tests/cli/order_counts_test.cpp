// Out-of-order and duplicate packets: counted by the engine from hand-made packets and
// shown by both kinds of report.

#include <gtest/gtest.h>

#include <algorithm>
#include <nlohmann/json.hpp>
#include <vector>

#include "base/clock.h"
#include "cli/report.h"
#include "measure/receiver.h"
#include "measure/test_packet.h"
#include "measure_test_support.h"

namespace {

std::vector<uint8_t> Packet(int64_t groupNumber, int32_t indexInGroup = 0, uint32_t size = 192) {
    return MakePacket(indexInGroup, groupNumber, groupNumber * 10'000'000, 1'000'000'000, size);
}

class OrderCounts : public ::testing::Test {
  protected:
    void Receive(const std::vector<uint8_t>& datagram) {
        clock_.now += 1'000'000;  // 1 ms after the one before
        AccountReceivedDatagram(statistics_, Received(datagram, clock_.now), clock_, nullptr);
    }
    void ReceiveGroups(std::initializer_list<int64_t> groupNumbers) {
        for (const int64_t group : groupNumbers) {
            Receive(Packet(group));
        }
    }
    ReceiverStatistics Statistics() const { return statistics_.Snapshot(); }

    SharedStatistics<ReceiverStatistics> statistics_;
    ManualClock clock_;
};

TEST_F(OrderCounts, InOrderGroupsWithGapsCountNeither) {
    ReceiveGroups({0, 1, 2, 5, 9});
    const ReceiverStatistics s = Statistics();
    EXPECT_EQ(s.outOfOrderCount, 0);
    EXPECT_EQ(s.duplicateCount, 0);
    EXPECT_EQ(ExpectedCount(s), 10);
    EXPECT_DOUBLE_EQ(LossPercent(s), 50.0);
}

TEST_F(OrderCounts, LateGroupsAreOutOfOrderAndRepeatsAreDuplicates) {
    // 3 and 4 come after 5: out of order. 4 and 5 again: duplicates, whether the repeated
    // number is the latest or only the largest, and not analysed again.
    ReceiveGroups({0, 1, 2, 5, 3, 4, 4, 5});
    const ReceiverStatistics s = Statistics();
    EXPECT_EQ(s.analysedCount, 6);
    EXPECT_EQ(s.outOfOrderCount, 2);
    EXPECT_EQ(s.duplicateCount, 2);
    EXPECT_EQ(s.highestGroupNumber, 5);
    // The loss runs to the latest group, not the largest, as the dialog's does.
    EXPECT_EQ(ExpectedCount(s), 5);
}

TEST_F(OrderCounts, OnlyTheFirstPacketOfAGroupIsCounted) {
    ReceiveGroups({0, 1, 2});
    Receive(Packet(0, 1));      // a later packet of an old group: bytes only
    Receive(Packet(0, 0, 31));  // too short to be analysed
    Receive(Packet(1, 0));      // the same first packet again: a duplicate
    const ReceiverStatistics s = Statistics();
    EXPECT_EQ(s.analysedCount, 3);
    EXPECT_EQ(s.outOfOrderCount, 0);
    EXPECT_EQ(s.duplicateCount, 1);
    EXPECT_EQ(s.bytesReceived, 192 * 5 + 31);
}

TEST_F(OrderCounts, BothReportsShowTheCounts) {
    ReceiveGroups({0, 1, 2, 5, 3, 4, 5, 4});  // 3 and 4 late, 5 and 4 repeated
    SessionFigures session;
    session.record = Statistics();
    Report report;
    report.receiver = ReceiverStatistics{};
    report.sessions = SessionsReport{{session}};
    const std::string lines = ReportJsonLines(report);
    const nlohmann::json line = nlohmann::json::parse(lines.substr(0, lines.find('\n')));  // the session's
    EXPECT_EQ(line["receiver"]["outOfOrderCount"], 2);
    EXPECT_EQ(line["receiver"]["duplicateCount"], 2);
    EXPECT_EQ(line["receiver"]["analysedCount"], 6);
    const std::string text = ReportText(report, TextStyle::Dialog);
    EXPECT_NE(text.find("\nout-of-order packets: 2\nduplicate packets: 2\n"), std::string::npos) << text;
}

}  // namespace
