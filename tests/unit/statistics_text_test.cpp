#include <gtest/gtest.h>

#include <limits>

#include "measure/receiver_statistics.h"
#include "measure/sender_statistics.h"

namespace {

TEST(SenderStatisticsText, BandwidthExample) {
    SenderStatistics s;
    s.sentPackets = 100'000;
    s.duration = 10;
    s.maxSendDelay = 0.25;
    s.maxSendGroupDelay = 1.5;
    s.meanSendDelay = 0.0125;
    s.wouldBlockCount = 1000;
    EXPECT_EQ(SenderStatisticsText(s, 192),
              "sender statistics:\r\nbandwidth=1875. KB/sec\r\nmaxSendDelay = 0.25ms\r\nmaxSendGroupDelay = "
              "1.5ms\r\nmean delay = 1.25e-002ms\r\nWSAEWOULDBLOCK 1.%\r\nduration = 10.s");
}

TEST(SenderStatisticsText, ZeroDivisorsAreShownAsTheyCome) {
    // Right after a reset: 0 / 0 for the bandwidth and the would-block share.
    EXPECT_EQ(SenderStatisticsText(SenderStatistics{}, 192),
              "sender statistics:\r\nbandwidth=nan KB/sec\r\nmaxSendDelay = 0.ms\r\nmaxSendGroupDelay = 0.ms\r\nmean "
              "delay = 0.ms\r\nWSAEWOULDBLOCK nan%\r\nduration = 0.s");
    SenderStatistics allRefused;
    allRefused.wouldBlockCount = 5;
    allRefused.duration = 1;
    const std::string text = SenderStatisticsText(allRefused, 192);
    EXPECT_NE(text.find("bandwidth=0. KB/sec"), std::string::npos) << text;
    EXPECT_NE(text.find("WSAEWOULDBLOCK inf%"), std::string::npos) << text;
}

TEST(SenderStatisticsText, WouldBlockShareOfCountsPastThirtyTwoBits) {
    SenderStatistics s;
    s.wouldBlockCount = 3'000'000'000;
    s.sentPackets = 6'000'000'000;
    s.duration = 1;
    EXPECT_NE(SenderStatisticsText(s, 192).find("WSAEWOULDBLOCK 50.%"), std::string::npos);
}

TEST(ReceiverStatisticsText, EmptyRecordShowsFullLoss) {
    EXPECT_EQ(ReceiverStatisticsText(ReceiverStatistics{}),
              "receiver statistics:\r\nreceived 0 MB 0 bytes\r\nmin jitter = 0.ms\r\nmax jitter = 0.ms\r\njitter RMS "
              "= 0.ms\r\nmax abs. delay = 0.ms\r\nmean abs. delay = 0.ms\r\nabs. delay RMS = 0.ms\r\nlost packets: "
              "100.%");
}

TEST(ReceiverStatisticsText, FiguresOfAHandSetRecord) {
    ReceiverStatistics s;
    s.bytesReceived = 1048576;
    s.minJitter = -0.5;
    s.maxJitter = 2.25;
    s.jitterMeanSquare = 4;
    s.maxAbsDelay = 1.5;
    s.absDelayMean = -0.125;
    s.absDelayMeanSquare = 0.0625;
    s.firstGroupNumber = 10;
    s.lastGroupNumber = 19;
    s.analysedCount = 9;
    EXPECT_EQ(ReceiverStatisticsText(s),
              "receiver statistics:\r\nreceived 1 MB 0 bytes\r\nmin jitter = -0.5ms\r\nmax jitter = 2.25ms\r\njitter "
              "RMS = 2.ms\r\nmax abs. delay = 1.5ms\r\nmean abs. delay = -0.125ms\r\nabs. delay RMS = "
              "0.25ms\r\nlost packets: 10.%");
}

TEST(ReceiverStatisticsText, ByteSplitAndUnusualLoss) {
    ReceiverStatistics s;
    s.bytesReceived = 1048575;
    s.analysedCount = 3;  // duplicates: more analysed than expected
    s.firstGroupNumber = 4;
    s.lastGroupNumber = 5;
    std::string text = ReceiverStatisticsText(s);
    EXPECT_NE(text.find("received 0 MB 1048575 bytes"), std::string::npos) << text;
    EXPECT_NE(text.find("lost packets: -50.%"), std::string::npos) << text;

    s.lastGroupNumber = 3;  // a sender restart: expected count 0
    text = ReceiverStatisticsText(s);
    EXPECT_NE(text.find("lost packets: -inf%"), std::string::npos) << text;
}

TEST(ReceiverStatisticsText, ExpectedCountWrapsAcrossTheEndOfTheGroupNumbers) {
    // Foreign packets may carry any group number: the span wraps instead of overflowing.
    ReceiverStatistics s;
    s.firstGroupNumber = std::numeric_limits<int64_t>::max();
    s.lastGroupNumber = std::numeric_limits<int64_t>::min() + 2;
    s.analysedCount = 3;
    EXPECT_EQ(ExpectedCount(s), 4);
    EXPECT_EQ(LossPercent(s), 25.0);
    EXPECT_NE(ReceiverStatisticsText(s).find("lost packets: 25.%"), std::string::npos);
    s.lastGroupNumber = s.firstGroupNumber - 5;
    EXPECT_EQ(ExpectedCount(s), -4);
    EXPECT_EQ(LossPercent(s), 175.0);
}

TEST(ReceiverStatisticsText, IgnoredDatagramsOnALineOfTheirOwnOnlyWhenThereAreAny) {
    ReceiverStatistics s;
    EXPECT_EQ(ReceiverStatisticsText(s).find("ignored"), std::string::npos);
    s.ignoredCount = 2;
    const std::string text = ReceiverStatisticsText(s);
    const std::string end = "lost packets: 100.%\r\nignored datagrams: 2";
    ASSERT_GE(text.size(), end.size());
    EXPECT_EQ(text.substr(text.size() - end.size()), end);
}

}  // namespace
