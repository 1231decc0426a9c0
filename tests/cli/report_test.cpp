// Reports: the dialog's texts with the platform's line ends, and JSON lines of raw figures.

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <nlohmann/json.hpp>
#include <sstream>
#include <vector>

#include "base/errors.h"
#include "cli/call_judgement.h"
#include "cli/error_text.h"
#include "cli/report.h"
#include "measure/engine_errors.h"

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

// A session whose record is `record`, with whole-run figures set by hand.
SessionFigures HandSetSession(const ReceiverStatistics& record) {
    SessionFigures s;
    s.session = 2;
    s.run = 3;
    s.source = *Endpoint::Resolve("2001:db8::1", 13013);
    s.record = record;
    s.packets.received = 1990;
    s.packets.lost = 10;
    s.packets.expected = 2000;
    s.packets.duplicates = 1;
    s.packets.reordered = 4;
    s.packets.longestLossRun = 7;
    s.packets.groupSize = 100;
    s.packets.groupSizeInferred = false;
    s.packets.firstPacketsLost = 2;
    s.jitter = DistributionSummary{19, -1.5, 0.25, 2.5, 0.5, 0.125, 1.75, 2.25};
    s.delay = DistributionSummary{20, 0.0, 1.0, 3.0, 0.75, 0.875, 2.5, 3.0};
    s.skewPpm = -12.5;
    s.skewPpmError = 0.75;
    s.notTestPackets = 5;
    s.interval.packets.received = 100;
    return s;
}

Report BothSides(const SenderStatistics& sender, const ReceiverStatistics& receiver) {
    Report report;
    report.time = std::chrono::sys_days{std::chrono::December / 7 / 2026} + std::chrono::hours(21) +
                  std::chrono::minutes(47) + std::chrono::milliseconds(34123);
    report.elapsedSeconds = 2.5;
    report.final = true;
    report.sender = sender;
    report.packetSize = 192;
    report.receiver = ReceiverStatistics{};
    report.sessions = SessionsReport{{HandSetSession(receiver)}, 5, 0, 1048577, 2};
    return report;
}

std::vector<nlohmann::json> Lines(const std::string& text) {
    std::vector<nlohmann::json> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        lines.push_back(nlohmann::json::parse(line));
    }
    return lines;
}

TEST(ReportJson, TheSenderAndEachSessionOnALineOfTheirOwn) {
    Report report = BothSides(HandSetSender(), HandSetReceiver());
    report.readsTrafficClass = true;
    const std::string lines = ReportJsonLines(report);
    const std::string time = "{\"time\":\"2026-12-07T21:47:34.123Z\",\"elapsed\":2.5,\"final\":true,";
    EXPECT_EQ(lines.substr(0, lines.find('\n') + 1),
              time +
                  "\"sender\":{\"packetSize\":192,\"sentPackets\":1000,\"wouldBlockCount\":10,\"duration\":2.0,"
                  "\"bandwidth\":93.75,\"maxSendDelay\":0.5,\"maxSendGroupDelay\":2.25,\"meanSendDelay\":0.125,"
                  "\"wouldBlockPercent\":1.0,\"lateGroups\":3,\"maxLatenessMs\":1.5,\"groupsPerSecond\":250.0}}\n");
    // The session's line: the dialog's receiver object of its own record, unchanged in shape.
    const std::string sessionStart =
        time +
        "\"source\":\"[2001:db8::1]:13013\",\"senderName\":null,\"session\":2,\"run\":3,\"silent\":false,"
        "\"silentSeconds\":0.0,"
        "\"receiver\":{\"bytesReceived\":1048577,\"analysedCount\":6,\"expectedCount\":8,\"minJitter\":-1.5,"
        "\"maxJitter\":2.5,\"jitterRms\":2.0,\"maxAbsDelay\":3.0,\"meanAbsDelay\":0.75,\"absDelayRms\":1.5,"
        "\"lossPercent\":25.0,\"outOfOrderCount\":2,\"duplicateCount\":1,\"truncatedCount\":0,"
        "\"largestTruncatedLength\":0,\"dscp\":{\"0\":2,\"46\":4},\"ecn\":{\"1\":6}},";
    EXPECT_EQ(lines.substr(lines.find('\n') + 1, sessionStart.size()), sessionStart) << lines;
    const std::vector<nlohmann::json> parsed = Lines(lines);
    ASSERT_EQ(parsed.size(), 3u);  // the sender, the session, the receiver's totals
    const nlohmann::json& session = parsed[1];
    EXPECT_FALSE(session.contains("sender"));
    EXPECT_FALSE(parsed[0].contains("source"));
    EXPECT_FALSE(parsed[2].contains("source"));
    EXPECT_EQ(session["packets"], (nlohmann::json{{"received", 1990},
                                                  {"lost", 10},
                                                  {"expected", 2000},
                                                  {"lossPercent", 0.5},
                                                  {"duplicates", 1},
                                                  {"reordered", 4},
                                                  {"longestLossRun", 7},
                                                  {"groupSize", 100},
                                                  {"groupSizeInferred", false}}));
    EXPECT_TRUE(session["packets"]["received"].is_number_integer());
    EXPECT_EQ(session["jitter"], (nlohmann::json{{"count", 19},
                                                 {"min", -1.5},
                                                 {"mean", 0.25},
                                                 {"max", 2.5},
                                                 {"stddev", 0.5},
                                                 {"p50", 0.125},
                                                 {"p95", 1.75},
                                                 {"p99", 2.25}}));
    EXPECT_EQ(session["delay"]["p95"], 2.5);
    EXPECT_EQ(session["skewPpm"], -12.5);
    EXPECT_EQ(session["skewPpmError"], 0.75);
    EXPECT_EQ(session["notTestPackets"], 5);
    EXPECT_EQ(session["interval"]["packets"]["received"], 100);
    // Figures that do not exist yet are null, in objects of the same shape.
    EXPECT_TRUE(session["rfc3550Jitter"].is_null());
    EXPECT_EQ(session["delaySkewRemoved"]["count"], 0);
    EXPECT_TRUE(session["delaySkewRemoved"]["p99"].is_null());
    EXPECT_TRUE(session["interval"]["packets"]["lossPercent"].is_null());
    EXPECT_TRUE(session["interval"]["packets"]["groupSize"].is_null());
    EXPECT_TRUE(session["interval"]["jitter"]["mean"].is_null());
    EXPECT_FALSE(session.contains("histogram"));

    // The histogram on request: the dialog's 400 bins from -40 ms.
    report.sessions->sessions[0].record.jitterHistogram[200] = 0.5;
    const nlohmann::json histogram = Lines(ReportJsonLines(report, true))[1]["histogram"];
    EXPECT_EQ(histogram["fromMs"], -40.0);
    EXPECT_EQ(histogram["binMs"], 0.2);
    ASSERT_EQ(histogram["weights"].size(), 400u);
    EXPECT_EQ(histogram["weights"][200], 0.5);

    // A silent sender: how long, counted from its latest test packet.
    report.sessions->sessions[0].silent = true;
    report.sessions->sessions[0].lastPacketAgeSeconds = 12.5;
    const nlohmann::json silent = Lines(ReportJsonLines(report))[1];
    EXPECT_EQ(silent["silent"], true);
    EXPECT_EQ(silent["silentSeconds"], 12.5);

    // Where the receiver cannot read the values, they are unknown, not zero.
    report.readsTrafficClass = false;
    const nlohmann::json unread = Lines(ReportJsonLines(report))[1];
    EXPECT_TRUE(unread["receiver"]["dscp"].is_null());
    EXPECT_TRUE(unread["receiver"]["ecn"].is_null());

    report.sessions->sessions[0].senderName = "north \"7\"";
    EXPECT_EQ(Lines(ReportJsonLines(report))[1]["senderName"], "north \"7\"");
}

// The totals follow the sessions' lines at every report, not only when no session is open: a
// table under attack refuses and drops while its real senders are measured.
TEST(ReportJson, TheReceiversTotalsAtEveryReport) {
    Report report = BothSides(HandSetSender(), HandSetReceiver());
    report.sessions->openSessions = 1;
    report.sessions->refusedSessions = 4;
    report.sessions->droppedSessions = 2;
    report.sessions->unconfirmedSources = 300;
    report.sessions->unauthenticatedPackets = 6;
    const nlohmann::json totals = Lines(ReportJsonLines(report)).back();
    EXPECT_EQ(totals["time"], "2026-12-07T21:47:34.123Z");
    EXPECT_EQ(totals["final"], true);
    EXPECT_EQ(totals["sessions"], 1);
    EXPECT_EQ(totals["openSessions"], 1);
    EXPECT_EQ(totals["refusedSessions"], 4);
    EXPECT_EQ(totals["droppedSessions"], 2);
    EXPECT_EQ(totals["unconfirmedSources"], 300);
    EXPECT_EQ(totals["notTestPackets"], 5);
    EXPECT_EQ(totals["unauthenticatedPackets"], 6);
    EXPECT_FALSE(totals.contains("sender"));

    const std::string text = ReportText(report);
    EXPECT_NE(text.find(", 2 sessions dropped, 4 senders refused (the table was full), 300 sources whose packets "
                        "confirmed no run, 6 datagrams without the key's tag\n"),
              std::string::npos)
        << text;
}

TEST(ReportJson, AReceiverWithoutSessionsSaysSoWithItsTotals) {
    Report report;
    report.receiver = ReceiverStatistics{};
    report.receiver->truncatedCount = 2;
    report.sessions = SessionsReport{{}, 7, 1, 4096};
    report.sessions->hostDrops = 12;
    report.kernelTimestamps = true;
    report.grantedReceiveBuffer = 8 << 20;
    const std::vector<nlohmann::json> lines = Lines(ReportJsonLines(report));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0]["time"], "1970-01-01T00:00:00.000Z");
    EXPECT_EQ(lines[0]["final"], false);
    EXPECT_EQ(lines[0]["sessions"], 0);
    EXPECT_EQ(lines[0]["sessionsStarted"], 0);
    EXPECT_EQ(lines[0]["notTestPackets"], 7);
    EXPECT_EQ(lines[0]["droppedSessions"], 1);
    EXPECT_EQ(lines[0]["bytesReceived"], 4096);
    EXPECT_EQ(lines[0]["truncatedCount"], 2);
    EXPECT_EQ(lines[0]["unauthenticatedPackets"], 0);
    EXPECT_EQ(lines[0]["hostDrops"], 12);
    EXPECT_EQ(lines[0]["timestamps"], "kernel");
    EXPECT_EQ(lines[0]["receiveBufferBytes"], 8 << 20);
    EXPECT_FALSE(lines[0].contains("receiver"));
    EXPECT_FALSE(lines[0].contains("sender"));

    const std::string text = ReportText(report);
    EXPECT_EQ(text.rfind("1970-01-01T00:00:00.000Z receiver: no test packets yet; 4096 bytes received, 7 datagrams "
                         "were not test packets",
                         0),
              0u)
        << text;
    EXPECT_NE(text.find("\n  host: kernel timestamps, receive buffer 8388608 bytes, 12 datagrams dropped by this "
                        "host (counted as lost, though not on the path)\n\n"),
              std::string::npos)
        << text;
    EXPECT_EQ(text.find("lost packets"), std::string::npos) << text;
    EXPECT_EQ(text.find("key"), std::string::npos) << text;  // an unkeyed receiver has no such figure
    report.sessions->unauthenticatedPackets = 9;
    EXPECT_NE(ReportText(report).find(", 9 datagrams without the key's tag\n"), std::string::npos)
        << ReportText(report);
    report.sessions->sessionsStarted = 3;
    EXPECT_NE(ReportText(report).find("no open session"), std::string::npos) << ReportText(report);
}

// The load on the wire, computed here from the header sizes: UDP 8, IPv4 20, IPv6 40.
TEST(ReportLoad, CallsAndKbitPerSecondOnTheWire) {
    Report report = BothSides(HandSetSender(), HandSetReceiver());
    report.load = LoadReport{SendLoad{30, 172, 20, false}, std::string("g711-20"), 172};
    nlohmann::json load =
        nlohmann::json::parse(ReportJsonLines(report).substr(0, ReportJsonLines(report).find('\n')))["sender"]["load"];
    EXPECT_EQ(load["codec"], "g711-20");
    EXPECT_EQ(load["calls"], 30);
    EXPECT_DOUBLE_EQ(load["wireKbitPerSecond"].get<double>(), 30 * (172 + 8 + 20) * 8 / 20.0);
    EXPECT_NE(ReportText(report).find("load: 30 calls of g711-20, 2400 kbit/s on the wire"), std::string::npos)
        << ReportText(report);

    // G.729 at 10 ms: 22 bytes of payload go out as a 32-byte test packet, and the report says so.
    report.load = LoadReport{SendLoad{2, 32, 10, true}, std::string("g729-10"), 22};
    load =
        nlohmann::json::parse(ReportJsonLines(report).substr(0, ReportJsonLines(report).find('\n')))["sender"]["load"];
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
    Report report = BothSides(SenderStatistics{}, receiver);
    report.sessions->sessions[0].skewPpm = std::numeric_limits<double>::quiet_NaN();
    const std::string line = ReportJsonLines(report);

    const std::vector<nlohmann::json> parsed = Lines(line);  // still valid JSON
    EXPECT_TRUE(parsed[0]["sender"]["bandwidth"].is_null());
    EXPECT_TRUE(parsed[0]["sender"]["wouldBlockPercent"].is_null());
    EXPECT_EQ(parsed[0]["sender"]["duration"], 0.0);
    const nlohmann::json& r = parsed[1]["receiver"];
    EXPECT_EQ(r["expectedCount"], 0);
    EXPECT_TRUE(r["lossPercent"].is_null());
    EXPECT_TRUE(r["jitterRms"].is_null());
    EXPECT_TRUE(r["meanAbsDelay"].is_null());
    EXPECT_TRUE(r["minJitter"].is_null());
    EXPECT_EQ(r["maxJitter"], 0.0);
    EXPECT_TRUE(parsed[1]["skewPpm"].is_null());
    EXPECT_EQ(line.find("inf"), std::string::npos);
    EXPECT_EQ(line.find("nan"), std::string::npos);
}

TEST(ReportJson, ASenderAloneGivesOneLine) {
    Report report;
    report.sender = HandSetSender();
    report.packetSize = 32;
    const std::vector<nlohmann::json> lines = Lines(ReportJsonLines(report));
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_FALSE(lines[0].contains("receiver"));
    EXPECT_FALSE(lines[0].contains("sessions"));
    EXPECT_EQ(lines[0]["sender"]["packetSize"], 32);
}

TEST(ReportText, AReadableBlockPerSessionWithUnitsLossAndPercentiles) {
    const std::string text = ReportText(BothSides(HandSetSender(), HandSetReceiver()));
    EXPECT_EQ(
        text.rfind(
            "2026-12-07T21:47:34.123Z sender, 2.5 s:\n  sent: 1000 packets of 192 bytes in 500 groups, 93.75 KB/s\n",
            0),
        0u)
        << text;
    for (const char* line : {
             "\n2026-12-07T21:47:34.123Z session 2 from [2001:db8::1]:13013, run 3:\n",
             "\n  packets: 1990 received, 10 lost (0.500 % of 2000 in closed groups), 1 duplicate, 4 reordered, "
             "longest loss run 7\n",
             "\n  group size: 100 packets\n",
             "\n  jitter (ms): p50 0.125, p95 1.750, p99 2.250; min -1.500, mean 0.250, max 2.500, stddev 0.500 "
             "(19 samples)\n",
             "\n  delay without clock skew: no samples yet\n",
             "\n  RFC 3550 jitter: none yet\n",
             "\n  clock skew: -12.5 ppm (within 0.8)\n",
             "\n  last interval: 100 received, loss not counted yet, 0 duplicates, 0 reordered\n",
             "\n2026-12-07T21:47:34.123Z receiver: 1048577 bytes received, 5 datagrams were not test packets, 0 "
             "sessions dropped\n  host: user timestamps, the system's receive buffer, 0 datagrams dropped by this "
             "host (counted as lost, though not on the path)\n\n",
         }) {
        EXPECT_NE(text.find(line), std::string::npos) << line << "\nin:\n" << text;
    }
    Report silent = BothSides(HandSetSender(), HandSetReceiver());
    silent.sessions->sessions[0].silent = true;
    silent.sessions->sessions[0].lastPacketAgeSeconds = 12.5;
    EXPECT_NE(ReportText(silent).find(", run 3:\n  silent for 12.5 s: the groups due meanwhile count as lost in the "
                                      "last interval\n"),
              std::string::npos)
        << ReportText(silent);
    Report named = BothSides(HandSetSender(), HandSetReceiver());
    named.sessions->sessions[0].senderName = "north";
    EXPECT_NE(ReportText(named).find("session 2 \"north\" from [2001:db8::1]:13013, run 3:\n"), std::string::npos);
}

// The verdict on calls: an object in the JSON (or null and why) and a line of the text (none
// when no codec was given to judge by).
TEST(ReportQuality, AJudgedSessionTellsItsVerdictAndTheOthersWhyNot) {
    Report report = BothSides(HandSetSender(), HandSetReceiver());
    JitterBufferFigures buffer;
    buffer.latePercent = {3, 1, 0, 0, 0};
    buffer.recommendedMs = 40;
    buffer.recommendedLatePercent = 1;
    buffer.sufficient = true;
    report.sessions->sessions[0].jitterBuffer = buffer;
    report.sessions->sessions[0].packets.lossRuns = 10;
    JudgeCalls(*report.sessions, CallJudgement{*FindVoiceCodec("g711-20"), 50.0});
    nlohmann::json quality = Lines(ReportJsonLines(report))[1]["quality"];
    EXPECT_EQ(quality["codec"], "g711-20");
    EXPECT_EQ(quality["delayMs"], 50.0 + 40 + 20);
    EXPECT_EQ(quality["delaySource"], "oneWayDelayOption");
    EXPECT_EQ(quality["jitterBufferMs"], 40.0);
    EXPECT_EQ(quality["latePercent"], 1.0);
    EXPECT_NEAR(quality["lossPercent"].get<double>(), 0.5 + 0.995, 1e-9);  // 10 of 2000, then 1 % of the rest
    EXPECT_EQ(quality["lateByBuffer"][0], (nlohmann::json{{"bufferMs", 20.0}, {"latePercent", 3.0}}));
    for (const char* field : {"rFactor", "mos", "burstR"}) {
        EXPECT_TRUE(quality[field].is_number()) << field;
    }
    std::string text = ReportText(report);
    EXPECT_NE(text.find("\n  call quality: MOS 4.2"), std::string::npos) << text;
    EXPECT_NE(text.find(" for G.711/20 ms with a 40 ms buffer\n"), std::string::npos) << text;

    JudgeCalls(*report.sessions, CallJudgement{*FindVoiceCodec("opus-20"), std::nullopt});
    nlohmann::json line = Lines(ReportJsonLines(report))[1];
    EXPECT_TRUE(line["quality"].is_null());
    EXPECT_NE(line["qualityReason"].get<std::string>().find("Opus"), std::string::npos);
    EXPECT_NE(ReportText(report).find("\n  call quality: not judged: "), std::string::npos);

    JudgeCalls(*report.sessions, std::nullopt);
    line = Lines(ReportJsonLines(report))[1];
    EXPECT_TRUE(line["quality"].is_null());
    EXPECT_NE(line["qualityReason"].get<std::string>().find("--codec"), std::string::npos);
    EXPECT_EQ(ReportText(report).find("call quality"), std::string::npos);
}

TEST(ReportText, TheDialogsTextsOneReceiverTextPerSession) {
    const SenderStatistics sender = HandSetSender();
    const ReceiverStatistics receiver = HandSetReceiver();
    const std::string text = ReportText(BothSides(sender, receiver), TextStyle::Dialog);

    EXPECT_EQ(text,
              "sender statistics:\nbandwidth=93.75 KB/sec\nmaxSendDelay = 0.5ms\nmaxSendGroupDelay = 2.25ms\n"
              "mean delay = 0.125ms\nWSAEWOULDBLOCK 1.%\nduration = 2.s\n"
              "session 2 from [2001:db8::1]:13013, run 3:\n"
              "receiver statistics:\nreceived 1 MB 1 bytes\nmin jitter = -1.5ms\nmax jitter = 2.5ms\n"
              "jitter RMS = 2.ms\nmax abs. delay = 3.ms\nmean abs. delay = 0.75ms\nabs. delay RMS = 1.5ms\n"
              "lost packets: 25.%\nout-of-order packets: 2\nduplicate packets: 1\n\n");
    // The same texts as the dialog's boxes, only the line ends differ.
    EXPECT_EQ(text.find(ConsoleText(SenderStatisticsText(sender, 192))), 0u);
    EXPECT_NE(text.find(ConsoleText(ReceiverStatisticsText(receiver))), std::string::npos);

    // Two sessions: the text of each record, in order.
    Report two = BothSides(sender, receiver);
    two.readsTrafficClass = true;
    ReceiverStatistics other;
    other.analysedCount = 1;
    two.sessions->sessions.push_back(HandSetSession(other));
    const std::string both = ReportText(two, TextStyle::Dialog);
    const size_t first = both.find(ConsoleText(ReceiverStatisticsText(receiver)));
    EXPECT_NE(both.find("duplicate packets: 1\nDSCP values seen (packets): 0 (2), 46 (4)\n"
                        "ECN values seen (packets): 1 (6)\n\n"),
              std::string::npos)
        << both;
    EXPECT_NE(both.find(ConsoleText(ReceiverStatisticsText(other)), first + 1), std::string::npos) << both;

    // Without a session the dialog's text of an empty record would claim a loss of 100 %: the
    // receiver's word instead, as the readable report gives it.
    Report none;
    none.receiver = ReceiverStatistics{};
    none.sessions = SessionsReport{};
    EXPECT_EQ(ReportText(none, TextStyle::Dialog),
              "receiver: no test packets yet; 0 bytes received, 0 datagrams were not test packets, 0 sessions "
              "dropped\n\n");
}

TEST(ReportTime, Rfc3339InUtcWithMilliseconds) {
    using namespace std::chrono;
    EXPECT_EQ(Rfc3339Utc(sys_days{February / 29 / 2028} + hours(23) + minutes(59) + milliseconds(59999)),
              "2028-02-29T23:59:59.999Z");
    EXPECT_EQ(Rfc3339Utc(system_clock::time_point{}), "1970-01-01T00:00:00.000Z");
}

std::string CliTextOfThrown(const std::function<void()>& thrower) {
    CaughtError caught = RunCatchingErrors(thrower);
    return caught.exception ? CliErrorText(*caught.exception) : "nothing thrown";
}

// The command line words each error itself, on one line, never with the dialog's function
// names and line numbers; errors of other parts keep their own text.
TEST(ErrorText, EachErrorIsOneLineOfTheCommandLinesOwnWords) {
    EXPECT_EQ(CliTextOfThrown([] { ThrowEngineError(EngineError::SenderBufferNotSet, "2147483648 bytes: too many"); }),
              "veltrane-cli: cannot set the send buffer to 2147483648 bytes: too many");
    EXPECT_EQ(CliTextOfThrown([] { ThrowEngineError(EngineError::SenderNotNonBlocking, "Bad file descriptor"); }),
              "veltrane-cli: cannot make the sender's socket non-blocking: Bad file descriptor");
    EXPECT_EQ(
        CliTextOfThrown([] { ThrowEngineError(EngineError::SenderNotMarked, "DSCP 46: Operation not permitted"); }),
        "veltrane-cli: cannot mark the packets with DSCP 46: Operation not permitted");
    EXPECT_EQ(CliTextOfThrown([] { ThrowEngineError(EngineError::ReceiverDidNotStop); }),
              "veltrane-cli: the receiver did not stop in time");
    EXPECT_EQ(CliTextOfThrown([] { ThrowError("error in A::B: what\r\nfile: x\r\nline: %i", 7); }),
              "veltrane-cli: error in A::B: what / file: x / line: 7");
    EXPECT_EQ(CliUnknownErrorText(kReceiverUnknownErrorText),
              "veltrane-cli: the receiver ended by an unexpected error");
    // The dialog's texts are the table's, unchanged.
    CaughtError bind = RunCatchingErrors([] { ThrowEngineError(EngineError::ReceiverNotBound, "x"); });
    EXPECT_EQ(ExceptionText(*bind.exception),
              "error in MainWindow::ReceiverThreadEntry: bind failed\r\nfile: winmain\r\nline: 530\r\n");
}

TEST(ReportText, ConsoleTextTakesOutEveryCarriageReturnBeforeALineFeed) {
    EXPECT_EQ(ConsoleText("a\r\nb\r\n\r\nc"), "a\nb\n\nc");
    EXPECT_EQ(ConsoleText("bind failed\r\nfile: winmain\r\nline: 530\r\n"), "bind failed\nfile: winmain\nline: 530");
    EXPECT_EQ(ConsoleText("a\rb"), "a\rb");
    EXPECT_EQ(ConsoleText(""), "");
}

}  // namespace
