// Reports: the dialog's texts with the platform's line ends, and JSON lines of raw figures.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>

#include "cli/report.h"

namespace {

SenderStatistics HandSetSender() {
    SenderStatistics s;
    s.maxSendDelay = 0.5;
    s.maxSendGroupDelay = 2.25;
    s.meanSendDelay = 0.125;
    s.wouldBlockCount = 10;
    s.sentPackets = 1000;
    s.duration = 2.0;
    s.groupsSent = 500;
    s.lateGroups = 3;
    s.maxLatenessMs = 1.5;
    return s;
}

ReceiverStatistics HandSetReceiver() {
    ReceiverStatistics r;
    r.bytesReceived = 1048577;
    r.firstGroupNumber = 5;
    r.lastGroupNumber = 12;
    r.analysedCount = 6;
    r.minJitter = -1.5;
    r.maxJitter = 2.5;
    r.jitterMeanSquare = 4.0;
    r.maxAbsDelay = 3.0;
    r.absDelayMean = 0.75;
    r.absDelayMeanSquare = 2.25;
    r.outOfOrderCount = 2;
    r.duplicateCount = 1;
    r.dscpCounts[46] = 4;
    r.dscpCounts[0] = 2;
    r.ecnCounts[1] = 6;
    return r;
}

Report BothSides(const SenderStatistics& sender, const ReceiverStatistics& receiver) {
    Report report;
    report.elapsedSeconds = 2.5;
    report.final = true;
    report.sender = sender;
    report.packetSize = 192;
    report.receiver = receiver;
    return report;
}

TEST(ReportJson, OneLineOfRawFiguresForAHandSetRecord) {
    Report report = BothSides(HandSetSender(), HandSetReceiver());
    report.readsTrafficClass = true;
    EXPECT_EQ(ReportJsonLine(report),
              "{\"elapsed\":2.5,\"final\":true,"
              "\"sender\":{\"packetSize\":192,\"sentPackets\":1000,\"wouldBlockCount\":10,\"duration\":2.0,"
              "\"bandwidth\":93.75,\"maxSendDelay\":0.5,\"maxSendGroupDelay\":2.25,\"meanSendDelay\":0.125,"
              "\"wouldBlockPercent\":1.0,\"lateGroups\":3,\"maxLatenessMs\":1.5,\"groupsPerSecond\":250.0},"
              "\"receiver\":{\"bytesReceived\":1048577,\"analysedCount\":6,\"expectedCount\":8,\"minJitter\":-1.5,"
              "\"maxJitter\":2.5,\"jitterRms\":2.0,\"maxAbsDelay\":3.0,\"meanAbsDelay\":0.75,\"absDelayRms\":1.5,"
              "\"lossPercent\":25.0,\"outOfOrderCount\":2,\"duplicateCount\":1,\"truncatedCount\":0,"
              "\"largestTruncatedLength\":0,\"dscp\":{\"0\":2,\"46\":4},\"ecn\":{\"1\":6}}}\n");
    // Where the receiver cannot read the values, they are unknown, not zero.
    report.readsTrafficClass = false;
    const nlohmann::json unread = nlohmann::json::parse(ReportJsonLine(report));
    EXPECT_TRUE(unread["receiver"]["dscp"].is_null());
    EXPECT_TRUE(unread["receiver"]["ecn"].is_null());
}

// The load on the wire, computed here from the header sizes: UDP 8, IPv4 20, IPv6 40.
TEST(ReportLoad, CallsAndKbitPerSecondOnTheWire) {
    Report report = BothSides(HandSetSender(), HandSetReceiver());
    report.load = LoadReport{SendLoad{30, 172, 20, false}, std::string("g711-20"), 172};
    nlohmann::json load = nlohmann::json::parse(ReportJsonLine(report))["sender"]["load"];
    EXPECT_EQ(load["codec"], "g711-20");
    EXPECT_EQ(load["calls"], 30);
    EXPECT_DOUBLE_EQ(load["wireKbitPerSecond"].get<double>(), 30 * (172 + 8 + 20) * 8 / 20.0);
    EXPECT_NE(ReportText(report).find("load: 30 calls of g711-20, 2400 kbit/s on the wire"), std::string::npos)
        << ReportText(report);

    // G.729 at 10 ms: 22 bytes of payload go out as a 32-byte test packet, and the report says so.
    report.load = LoadReport{SendLoad{2, 32, 10, true}, std::string("g729-10"), 22};
    load = nlohmann::json::parse(ReportJsonLine(report))["sender"]["load"];
    EXPECT_DOUBLE_EQ(load["wireKbitPerSecond"].get<double>(), 2 * (32 + 8 + 40) * 8 / 10.0);
    EXPECT_EQ(load["payloadBytes"], 22);
    EXPECT_NE(ReportText(report).find("g729-10's 22-byte payload is sent as 32 bytes"), std::string::npos)
        << ReportText(report);
}

TEST(ReportJson, ValuesThatAreNotFiniteAreWrittenAsNull) {
    // A fresh sender record divides by zero; a sender restart leaves an expected count of 0
    // (infinite loss); foreign packets make the running means infinite or undefined.
    ReceiverStatistics receiver;
    receiver.firstGroupNumber = 8;
    receiver.lastGroupNumber = 7;
    receiver.analysedCount = 3;
    receiver.jitterMeanSquare = std::numeric_limits<double>::infinity();
    receiver.absDelayMean = std::numeric_limits<double>::quiet_NaN();
    receiver.minJitter = -std::numeric_limits<double>::infinity();
    const std::string line = ReportJsonLine(BothSides(SenderStatistics{}, receiver));

    const nlohmann::json parsed = nlohmann::json::parse(line);  // still valid JSON
    EXPECT_TRUE(parsed["sender"]["bandwidth"].is_null());
    EXPECT_TRUE(parsed["sender"]["wouldBlockPercent"].is_null());
    EXPECT_EQ(parsed["sender"]["duration"], 0.0);
    EXPECT_EQ(parsed["receiver"]["expectedCount"], 0);
    EXPECT_TRUE(parsed["receiver"]["lossPercent"].is_null());
    EXPECT_TRUE(parsed["receiver"]["jitterRms"].is_null());
    EXPECT_TRUE(parsed["receiver"]["meanAbsDelay"].is_null());
    EXPECT_TRUE(parsed["receiver"]["minJitter"].is_null());
    EXPECT_EQ(parsed["receiver"]["maxJitter"], 0.0);
    EXPECT_EQ(line.find("inf"), std::string::npos);
    EXPECT_EQ(line.find("nan"), std::string::npos);
}

TEST(ReportJson, ASideThatDoesNotRunIsLeftOut) {
    Report report;
    report.receiver = ReceiverStatistics{};
    const nlohmann::json receiveOnly = nlohmann::json::parse(ReportJsonLine(report));
    EXPECT_FALSE(receiveOnly.contains("sender"));
    EXPECT_EQ(receiveOnly["final"], false);
    // Before the first packet the loss is 100 percent, as the dialog shows it.
    EXPECT_EQ(receiveOnly["receiver"]["lossPercent"], 100.0);

    report.receiver.reset();
    report.sender = HandSetSender();
    report.packetSize = 32;
    const nlohmann::json sendOnly = nlohmann::json::parse(ReportJsonLine(report));
    EXPECT_FALSE(sendOnly.contains("receiver"));
    EXPECT_EQ(sendOnly["sender"]["packetSize"], 32);
}

TEST(ReportText, TheDialogsTextsThenTheOrderCountsWithNewlines) {
    const SenderStatistics sender = HandSetSender();
    const ReceiverStatistics receiver = HandSetReceiver();
    const std::string text = ReportText(BothSides(sender, receiver));

    EXPECT_EQ(text,
              "sender statistics:\nbandwidth=93.75 KB/sec\nmaxSendDelay = 0.5ms\nmaxSendGroupDelay = 2.25ms\n"
              "mean delay = 0.125ms\nWSAEWOULDBLOCK 1.%\nduration = 2.s\n"
              "receiver statistics:\nreceived 1 MB 1 bytes\nmin jitter = -1.5ms\nmax jitter = 2.5ms\n"
              "jitter RMS = 2.ms\nmax abs. delay = 3.ms\nmean abs. delay = 0.75ms\nabs. delay RMS = 1.5ms\n"
              "lost packets: 25.%\nout-of-order packets: 2\nduplicate packets: 1\n\n");
    // The same texts as the dialog's boxes, only the line ends differ.
    EXPECT_EQ(text.find(ConsoleText(SenderStatisticsText(sender, 192))), 0u);
    EXPECT_NE(text.find(ConsoleText(ReceiverStatisticsText(receiver))), std::string::npos);

    Report marked = BothSides(sender, receiver);
    marked.readsTrafficClass = true;
    EXPECT_NE(ReportText(marked).find("duplicate packets: 1\nDSCP values seen (packets): 0 (2), 46 (4)\n"
                                      "ECN values seen (packets): 1 (6)\n\n"),
              std::string::npos)
        << ReportText(marked);
}

TEST(ReportText, ConsoleTextTakesOutEveryCarriageReturnBeforeALineFeed) {
    EXPECT_EQ(ConsoleText("a\r\nb\r\n\r\nc"), "a\nb\n\nc");
    EXPECT_EQ(ConsoleText("bind failed\r\nfile: winmain\r\nline: 530\r\n"), "bind failed\nfile: winmain\nline: 530");
    EXPECT_EQ(ConsoleText("a\rb"), "a\rb");
    EXPECT_EQ(ConsoleText(""), "");
}

}  // namespace
