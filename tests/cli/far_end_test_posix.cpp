// The far end as a server runs it for everyone: several `veltrane-cli send` processes, some
// through a test relay that polices, loses, delays, moves the clock or adds hostile datagrams,
// to one `veltrane-cli receive --json`, whose final line of each session is then checked.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <memory>
#include <optional>
#include <set>
#include <thread>

#include "cli_test_support.h"
#include "datagram_forger_posix.h"
#include "measure/end_of_run.h"
#include "relay_process_posix.h"
#include "sessions/clock_skew.h"

namespace {

using nlohmann::json;
using std::chrono::milliseconds;

constexpr milliseconds kGenerous{60000};
// A loop-back path stays far below this even on a busy host under a sanitizer; a clock an hour
// off or a stray counter reads as an hour or more.
constexpr double kSaneMs = 500;
// A fit over a loop-back path stays within this; a counter 5 s off reads as 10^6 ppm.
constexpr double kSaneSkewPpm = 5000;

// One sender's stream to the far end: straight, or through a relay of its own.
struct Stream {
    Stream(std::optional<std::vector<std::string>> relayOptions, std::vector<std::string> sendOptions, int runs = 1)
        : relay(std::move(relayOptions)), send(std::move(sendOptions)), starts(runs) {}

    std::optional<std::vector<std::string>> relay;  // the relay's options; none: no relay
    std::vector<std::string> send;                  // the sender's options beyond the addresses
    int starts = 1;                                 // runs one after the other, from the same port
    uint16_t fromPort = 0;                          // the sender's port; 0: a free one

    std::string source;  // as the receiver shows it
    std::vector<std::string> sendArguments;
    std::vector<int64_t> sentPerRun;  // the sender's own count of each run

    int64_t SentPackets() const {
        int64_t sent = 0;
        for (int64_t run : sentPerRun) {
            sent += run;
        }
        return sent;
    }
    json relayCounts;
    std::vector<json> lines;   // the receiver's lines of this source, the final one included
    std::vector<json> finals;  // the receiver's final lines of this source
};

void PrepareStream(Stream& stream, uint16_t receiverPort, std::vector<std::unique_ptr<RelayProcess>>& relays) {
    uint16_t to = receiverPort;
    uint16_t from = stream.fromPort != 0 ? stream.fromPort : FreeUdpPort();
    if (stream.relay) {
        relays.push_back(std::make_unique<RelayProcess>(receiverPort, *stream.relay));
        ASSERT_NE(relays.back()->Port(), 0) << relays.back()->Errors();
        to = relays.back()->Port();
        stream.source = "127.0.0.1:" + std::to_string(to);
    } else {
        stream.source = "127.0.0.1:" + std::to_string(from);
    }
    stream.sendArguments = {"send",   "--json",           "--to",          "127.0.0.1",
                            "--port", std::to_string(to), "--source-port", std::to_string(from)};
    stream.sendArguments.insert(stream.sendArguments.end(), stream.send.begin(), stream.send.end());
}

// The streams' senders side by side, round after round (a stream with more starts runs again
// from the same port once the round's senders have ended).
void RunSenders(std::vector<Stream>& streams) {
    for (int round = 0;; ++round) {
        std::vector<std::pair<Stream*, std::unique_ptr<ChildProcess>>> senders;
        for (Stream& stream : streams) {
            if (stream.starts > round) {
                senders.emplace_back(&stream, std::make_unique<ChildProcess>(Program(stream.sendArguments)));
            }
        }
        if (senders.empty()) {
            return;
        }
        for (auto& [stream, sender] : senders) {
            ASSERT_EQ(sender->WaitForExit(kGenerous), 0) << sender->err;
            stream->sentPerRun.push_back(LastJsonLine(sender->out)["sender"]["sentPackets"].get<int64_t>());
        }
        std::this_thread::sleep_for(milliseconds(300));  // the last datagrams reach the receiver
    }
}

// Runs the streams to one receiver, stops it and files its final lines by source.
void RunFarEnd(std::vector<Stream>& streams, const std::vector<std::string>& receiveOptions = {}) {
    // The reports go to a file: a pipe that nobody reads during the run would stop the receiver.
    const std::string reports = ::testing::TempDir() + "veltrane-far-end-" + std::to_string(getpid()) + ".jsonl";
    std::remove(reports.c_str());
    const uint16_t port = FreeUdpPort();
    std::vector<std::string> receive{"receive", "--json", "--port", std::to_string(port), "--output", reports};
    receive.insert(receive.end(), receiveOptions.begin(), receiveOptions.end());
    if (std::find(receiveOptions.begin(), receiveOptions.end(), "--interval") == receiveOptions.end()) {
        receive.insert(receive.end(), {"--interval", "500"});
    }
    ChildProcess receiver(Program(receive));
    ASSERT_TRUE(receiver.Started());
    ASSERT_TRUE(WaitUntilBound(port)) << receiver.err;
    std::vector<std::unique_ptr<RelayProcess>> relays;
    for (Stream& stream : streams) {
        ASSERT_NO_FATAL_FAILURE(PrepareStream(stream, port, relays));
    }
    ASSERT_NO_FATAL_FAILURE(RunSenders(streams));
    for (size_t i = 0, r = 0; i < streams.size(); ++i) {
        if (streams[i].relay) {
            streams[i].relayCounts = relays[r++]->Finish();
            ASSERT_TRUE(streams[i].relayCounts.is_object()) << "the relay did not end cleanly";
        }
    }
    receiver.Signal(SIGTERM);
    ASSERT_EQ(receiver.WaitForExit(kGenerous), 0) << receiver.err;

    std::ifstream lines(reports);
    std::string all;
    for (std::string text; std::getline(lines, text); all += text + "\n") {
        const json line = json::parse(text);
        ASSERT_TRUE(line.contains("time") && line.contains("elapsed") && line.contains("final")) << text;
        for (Stream& stream : streams) {
            if (line.value("source", "") == stream.source) {
                stream.lines.push_back(line);
                if (line["final"] == true) {
                    stream.finals.push_back(line);
                }
            }
        }
    }
    for (const Stream& stream : streams) {
        ASSERT_EQ(stream.finals.size(), 1u) << stream.source << " in\n" << all;
    }
    std::remove(reports.c_str());
}

// A copy, so that a missing name reads as null instead of failing an assertion.
json Final(const Stream& stream) {
    return stream.finals.front();
}

// Every figure of a summary is a number (a NaN or an infinity would be written as null), and
// its extremes are those of a loop-back path.
void ExpectSaneSummary(json summary, const char* name) {
    SCOPED_TRACE(name);
    ASSERT_TRUE(summary.is_object()) << summary;
    for (const char* field : {"count", "min", "mean", "max", "stddev", "p50", "p95", "p99"}) {
        ASSERT_TRUE(summary[field].is_number()) << field << " in " << summary;
    }
    EXPECT_LT(std::abs(summary["min"].get<double>()), kSaneMs) << summary;
    EXPECT_LT(std::abs(summary["max"].get<double>()), kSaneMs) << summary;
}

// A session that lost nothing: every packet sent counted once, and one jitter sample for each
// packet but each call's first of each run. A sender that stops on its duration may cut its
// last group short: its end of run tells how many it sent.
void ExpectEveryPacketOnce(const Stream& stream, int64_t packetsPerGroup) {
    SCOPED_TRACE(stream.source);
    json line = Final(stream);
    const auto runs = static_cast<int64_t>(stream.sentPerRun.size());
    EXPECT_EQ(line["run"], runs);
    EXPECT_EQ(line["packets"]["received"], stream.SentPackets());
    EXPECT_EQ(line["packets"]["lost"], 0);
    EXPECT_EQ(line["packets"]["duplicates"], 0);
    EXPECT_EQ(line["packets"]["reordered"], 0);
    EXPECT_EQ(line["receiver"]["lossPercent"], 0.0);
    ExpectSaneSummary(line["jitter"], "jitter");
    ExpectSaneSummary(line["delay"], "delay");
    EXPECT_EQ(line["jitter"]["count"], stream.SentPackets() - runs * packetsPerGroup);
    EXPECT_EQ(line["delay"]["count"], stream.SentPackets());
}

const std::vector<std::string> kTenPerGroupForTwoSeconds{"--count", "10", "--period", "10", "--duration", "2"};

TEST(FarEnd, TwoSendersAndOneWithItsClockAnHourAheadEachKeepASessionOfTheirOwn) {
    std::vector<Stream> streams{{std::nullopt, kTenPerGroupForTwoSeconds},
                                {std::nullopt, kTenPerGroupForTwoSeconds},
                                {std::vector<std::string>{"--clock-ahead", "3600"}, kTenPerGroupForTwoSeconds}};
    ASSERT_NO_FATAL_FAILURE(RunFarEnd(streams));
    std::set<int64_t> sessions;
    for (const Stream& stream : streams) {
        ExpectEveryPacketOnce(stream, 10);
        EXPECT_EQ(Final(stream)["notTestPackets"], 0);
        sessions.insert(Final(stream)["session"].get<int64_t>());
    }
    EXPECT_EQ(sessions.size(), 3u);
}

// The second run's group numbers start again at 0: its loss is its own, and no jitter sample
// spans the pause between the runs.
TEST(FarEnd, ASenderStartedAgainBeginsASecondRunOfItsSession) {
    std::vector<Stream> streams{{std::nullopt, {"--count", "10", "--period", "10", "--duration", "1"}, 2}};
    ASSERT_NO_FATAL_FAILURE(RunFarEnd(streams));
    ExpectEveryPacketOnce(streams[0], 10);
    const double loss = Final(streams[0])["packets"]["lossPercent"];
    EXPECT_TRUE(loss >= 0 && loss <= 100) << loss;
}

// From the stream's own address and port: frequency 0 and negative, huge counters, random
// headers with index 0, 31-byte and oversized datagrams, one after every fifth real packet.
TEST(FarEnd, HostileDatagramsBetweenTheRealOnesChangeNoFigureAndAreCounted) {
    std::vector<Stream> streams{{std::vector<std::string>{}, kTenPerGroupForTwoSeconds},
                                {std::vector<std::string>{"--inject-every", "5"}, kTenPerGroupForTwoSeconds}};
    ASSERT_NO_FATAL_FAILURE(RunFarEnd(streams));
    const Stream& clean = streams[0];
    const Stream& hostile = streams[1];
    ExpectEveryPacketOnce(clean, 10);
    ExpectEveryPacketOnce(hostile, 10);

    json injected = hostile.relayCounts["injected"];
    ASSERT_GT(injected["total"].get<int64_t>(), 300) << hostile.relayCounts;
    EXPECT_EQ(Final(clean)["notTestPackets"], 0);
    // Those longer than the receiver's buffer included: dropped whole, yet told with their source.
    EXPECT_GT(injected["oversized"].get<int64_t>(), 0);
    EXPECT_EQ(Final(hostile)["notTestPackets"], injected["total"].get<int64_t>());
    for (const char* field : {"mean", "p50", "p95"}) {
        EXPECT_NEAR(Final(hostile)["jitter"][field].get<double>(), Final(clean)["jitter"][field].get<double>(), 0.5)
            << "jitter " << field;
    }
    // The relative delay counts from each run's reference packet, whose own delay differs from
    // stream to stream: the spread about the median is what the two have in common.
    const auto aboutMedian = [](json delay, const char* field) {
        return delay[field].get<double>() - delay["p50"].get<double>();
    };
    for (const char* field : {"mean", "p95"}) {
        EXPECT_NEAR(aboutMedian(Final(hostile)["delay"], field), aboutMedian(Final(clean)["delay"], field), 0.5)
            << "delay " << field;
    }
    ASSERT_TRUE(Final(hostile)["rfc3550Jitter"].is_number());
    EXPECT_NEAR(Final(hostile)["rfc3550Jitter"].get<double>(), Final(clean)["rfc3550Jitter"].get<double>(), 0.5);
}

// A real sender stopped after 30 groups and started again 0.3 s later from the same port, once
// as it is and once with a forged datagram after every other group, of each kind in turn, from
// its own address and port. The counts must be equal; the extremes, which the host's scheduling
// moves from run to run, must stay within a loop-back path's, where any forgery taken in would
// put them seconds away (or the skew at thousands of ppm).
TEST(FarEnd, ForgedDatagramsFromTheSendersOwnPortChangeNoFigureAndARestartIsTheSecondRun) {
    const std::vector<std::string> thirtyGroups{"--count", "10", "--period", "10", "--duration", "0.3"};
    std::vector<Stream> streams{{std::nullopt, thirtyGroups, 2}, {std::nullopt, thirtyGroups, 2}};
    streams[1].fromPort = FreeUdpPort();
    DatagramForger forger(streams[1].fromPort);
    if (!forger.Ready()) {
        GTEST_SKIP() << "forging a sender's address needs raw sockets (CAP_NET_RAW)";
    }
    // One report, at the end: a report between a sender's end of run and its restart would
    // end the session, and the restart would begin another.
    ASSERT_NO_FATAL_FAILURE(RunFarEnd(streams, {"--interval", "60000"}));
    const std::array<int64_t, DatagramForger::kKinds> forged = forger.Stop();
    int64_t forgedInAll = 0;
    for (int kind = 0; kind < DatagramForger::kKinds; ++kind) {
        EXPECT_GE(forged[kind], 1) << "kind " << kind;
        forgedInAll += forged[kind];
    }
    const Stream& clean = streams[0];
    const Stream& attacked = streams[1];
    for (const Stream* stream : {&clean, &attacked}) {
        ExpectEveryPacketOnce(*stream, 10);  // run 2, no duplicate, the jitter samples of two runs
        const json line = Final(*stream);
        EXPECT_EQ(line["packets"]["groupSize"], 10) << stream->source;
        EXPECT_EQ(line["packets"]["groupSizeInferred"], false) << stream->source;
        EXPECT_EQ(line["firstPacketsLost"], 0) << stream->source;
        for (const char* figure : {"minJitter", "maxJitter", "maxAbsDelay"}) {
            EXPECT_LT(std::abs(line["receiver"][figure].get<double>()), kSaneMs) << figure << " " << line;
        }
        ExpectSaneSummary(line["delaySkewRemoved"], "delaySkewRemoved");
        // A path of one host has no skew; runs this short may have no fit yet.
        for (const char* figure : {"skewPpm", "skewPpmError"}) {
            if (line[figure].is_number()) {
                EXPECT_LT(std::abs(line[figure].get<double>()), kSaneSkewPpm) << figure << " " << line;
            }
        }
    }
    EXPECT_EQ(Final(clean)["notTestPackets"], 0);
    // An index beyond the trusted size and a size left out are packets of the run, left out
    // of the count; every other forgery is no test packet.
    EXPECT_EQ(Final(attacked)["notTestPackets"],
              forgedInAll - forged[DatagramForger::kIndexBeyondGroupSize] - forged[DatagramForger::kNoStatedSize]);
}

// Every first packet passes the policer: the dialog's figure sees no loss, the count over every
// packet sees 80 of each 100 lost, in one run of 80 per group (the packets the sender's stop
// left unsent in its last group are none), and the group size is the one the sender wrote (the
// largest index seen would say 20).
TEST(FarEnd, APolicerPassingTwentyOfEachHundredLosesEightyPercentOfEveryPacket) {
    std::vector<Stream> streams{
        {std::vector<std::string>{"--police", "20"}, {"--count", "100", "--period", "50", "--duration", "2"}}};
    ASSERT_NO_FATAL_FAILURE(RunFarEnd(streams));
    json packets = Final(streams[0])["packets"];
    EXPECT_NEAR(packets["lossPercent"].get<double>(), 80.0, 0.5);
    EXPECT_EQ(packets["longestLossRun"], 80);
    EXPECT_EQ(packets["groupSize"], 100);
    EXPECT_EQ(packets["groupSizeInferred"], false);
    EXPECT_EQ(Final(streams[0])["ended"], "by the sender");
    // The relay forwarded the sender's end of run too.
    EXPECT_EQ(packets["received"].get<int64_t>() + kEndOfRunCopies, streams[0].relayCounts["forwarded"]);
    EXPECT_EQ(Final(streams[0])["receiver"]["lossPercent"], 0.0);
}

// Calls of G.711 sound right over a clean path and fair with 10 % random loss (by hand from
// the E-model: R 66, MOS 3.4).
TEST(FarEnd, RandomLossIsCountedAsTheRelayDroppedItAndLowersTheCallVerdict) {
    std::vector<Stream> streams{{std::vector<std::string>{"--loss", "10", "--seed", "11"}, kTenPerGroupForTwoSeconds},
                                {std::nullopt, kTenPerGroupForTwoSeconds}};
    ASSERT_NO_FATAL_FAILURE(RunFarEnd(streams, {"--codec", "g711-20"}));
    const int64_t lost = Final(streams[0])["packets"]["lost"];
    const int64_t dropped = streams[0].relayCounts["dropped"];
    EXPECT_GT(dropped, streams[0].SentPackets() / 20) << streams[0].relayCounts;
    EXPECT_LE(std::abs(lost - dropped), streams[0].SentPackets() / 100) << lost << " lost, " << dropped << " dropped";
    const json lossy = Final(streams[0])["quality"];
    ASSERT_TRUE(lossy.is_object()) << Final(streams[0]);
    EXPECT_NEAR(lossy["mos"].get<double>(), 3.4, 0.3) << lossy;
    EXPECT_NEAR(lossy["burstR"].get<double>(), 1.0, 0.3) << lossy;
    EXPECT_EQ(lossy["delaySource"], "missing");
    const json clean = Final(streams[1])["quality"];
    ASSERT_TRUE(clean.is_object()) << Final(streams[1]);
    EXPECT_GE(clean["mos"].get<double>(), 4.3) << clean;
}

#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
// A path whose delay grows by 100 us each second reads as a clock skew of 100 ppm, and the
// delay with the skew taken out spreads less than the raw one, which grows by 3.2 ms over the run.
TEST(FarEnd, ADelayGrowingSteadilyReadsAsClockSkewWithinFivePpmAfterThirtySeconds) {
    std::vector<Stream> streams{
        {std::vector<std::string>{"--delay-ramp", "100"}, {"--count", "1", "--duration", "32"}}};
    ASSERT_NO_FATAL_FAILURE(RunFarEnd(streams));
    json line = Final(streams[0]);
    ASSERT_TRUE(line["skewPpm"].is_number()) << line;
    EXPECT_NEAR(line["skewPpm"].get<double>(), 100.0, 5.0);
    ExpectSaneSummary(line["delaySkewRemoved"], "delaySkewRemoved");
    EXPECT_LT(line["delaySkewRemoved"]["stddev"].get<double>(), line["delay"]["stddev"].get<double>());
}

// The relay's line for one test packet it forwarded: the truth of the path it made.
struct Stamp {
    int64_t group = 0;
    int32_t index = 0;
    int64_t sendCounter = 0;  // the sender's monotonic clock, ns, which the relay's shares
    int64_t length = 0;
    int64_t arrivedNs = 0;    // at the relay
    int64_t forwardedNs = 0;  // from the relay: on loop-back, the far end's arrival
};

std::vector<Stamp> ReadStamps(const std::string& path) {
    std::vector<Stamp> stamps;
    std::ifstream file(path);
    for (Stamp s; file >> s.group >> s.index >> s.sendCounter >> s.length >> s.arrivedNs >> s.forwardedNs;) {
        stamps.push_back(s);
    }
    return stamps;
}

// A distribution as a report states it, from every sample: the spread of the samples
// themselves, percentiles by nearest rank.
json ExactSummary(std::vector<double> samples) {
    std::sort(samples.begin(), samples.end());
    const auto count = static_cast<int64_t>(samples.size());
    double mean = 0;
    for (double sample : samples) {
        mean += sample / static_cast<double>(count);
    }
    double squares = 0;
    for (double sample : samples) {
        squares += (sample - mean) * (sample - mean);
    }
    return json{{"count", count},
                {"min", samples.front()},
                {"mean", mean},
                {"max", samples.back()},
                {"stddev", std::sqrt(squares / static_cast<double>(count))},
                {"p50", ExactPercentile(samples, 50)},
                {"p95", ExactPercentile(samples, 95)},
                {"p99", ExactPercentile(samples, 99)}};
}

// The delays of `delays` above their least.
json PdvOf(const json& delays) {
    json pdv{{"count", delays["count"]}};
    for (const char* field : {"mean", "p50", "p95", "p99", "max"}) {
        pdv[field] = delays[field].get<double>() - delays["min"].get<double>();
    }
    return pdv;
}

json OptionalJson(std::optional<double> value) {
    return value ? json(*value) : json(nullptr);
}

// Every figure of a session's final line that its packets' delays give, from the relay's stamps
// by the far end's own definitions: each delay from the run's reference packet (the first
// that arrived), each jitter sample the change of delay from the packet before.
json DelayFiguresOf(const std::vector<Stamp>& stamps) {
    const Stamp& reference = stamps.front();
    std::vector<double> delays;
    std::vector<double> jitters;
    std::vector<double> skewRemoved;
    ClockSkewEstimator skew;
    double rfc3550 = 0;
    // The dialog's: extremes that start at 0, means that keep 0.998 of themselves per sample.
    double minJitter = 0, maxJitter = 0, jitterSquare = 0, maxDelay = 0, delayMean = 0, delaySquare = 0;
    for (const Stamp& stamp : stamps) {
        const double delay = static_cast<double>((stamp.forwardedNs - stamp.sendCounter) -
                                                 (reference.forwardedNs - reference.sendCounter)) /
                             1e6;
        const double seconds = static_cast<double>(stamp.forwardedNs - reference.forwardedNs) / 1e9;
        if (!delays.empty()) {
            const double jitter = delay - delays.back();
            jitters.push_back(jitter);
            rfc3550 += (std::fabs(jitter) - rfc3550) / 16;
            minJitter = std::min(minJitter, jitter);
            maxJitter = std::max(maxJitter, jitter);
            jitterSquare = 0.002 * jitter * jitter + 0.998 * jitterSquare;
            maxDelay = std::max(maxDelay, delay);
            delayMean = 0.002 * delay + 0.998 * delayMean;
            delaySquare = 0.002 * delay * delay + 0.998 * delaySquare;
        }
        delays.push_back(delay);
        skew.Add(seconds, delay);
        skewRemoved.push_back(skew.SkewRemovedDelayMs(seconds, delay));
    }
    json figures;
    figures["receiver"] = {
        {"minJitter", minJitter},  {"maxJitter", maxJitter},    {"jitterRms", std::sqrt(jitterSquare)},
        {"maxAbsDelay", maxDelay}, {"meanAbsDelay", delayMean}, {"absDelayRms", std::sqrt(delaySquare)}};
    figures["jitter"] = ExactSummary(jitters);
    figures["delay"] = ExactSummary(delays);
    // Its mean and spread take every delay with the run's latest fit.
    const json skewRemovedAlone = ExactSummary(skewRemoved);
    figures["delaySkewRemoved"] = skewRemovedAlone;
    const Moments latestFit = skew.SkewRemovedMoments();
    figures["delaySkewRemoved"]["mean"] = latestFit.mean;
    figures["delaySkewRemoved"]["stddev"] = latestFit.StandardDeviation();
    figures["pdv"] = PdvOf(figures["delaySkewRemoved"]);
    figures["rfc3550Jitter"] = rfc3550;
    figures["skewPpm"] = OptionalJson(skew.SkewPpm());
    figures["skewPpmError"] = OptionalJson(skew.SkewPpmError());
    figures["interval"] = {
        {"jitter", figures["jitter"]}, {"delay", figures["delay"]}, {"pdv", PdvOf(skewRemovedAlone)}};
    return figures;
}

// `reported` against `truth`, figure by figure, the keys of both alike: counts exactly, times
// (ms) within 10 us + 0.5 %.
void ExpectFiguresWithin(const json& reported, const json& truth, const std::string& path) {
    if (!truth.is_object()) {
        if (truth.is_number_float() && reported.is_number()) {
            const double tolerance = 0.010 + 0.005 * std::fabs(truth.get<double>());
            EXPECT_NEAR(reported.get<double>(), truth.get<double>(), tolerance) << path;
        } else {
            EXPECT_EQ(reported, truth) << path;
        }
        return;
    }
    ASSERT_TRUE(reported.is_object()) << path << ": " << reported;
    for (const auto& [key, value] : reported.items()) {
        EXPECT_TRUE(truth.contains(key)) << path << "." << key << " is not checked";
    }
    for (const auto& [key, value] : truth.items()) {
        ASSERT_TRUE(reported.contains(key)) << path << "." << key;
        ExpectFiguresWithin(reported[key], value, path + "." + key);
    }
}

// A path of 15 ms with a normal jitter of 2 ms that loses the sender's first 3 packets, on a
// host with both cores busy: every figure of the far end's final line (one report, so its
// interval is the whole run) agrees with the same figure computed from the stamps of a
// real-time relay, whose clock the sender's counter shares. A far end that read the clock
// itself whenever the busy host let it run would be off by up to milliseconds.
TEST(FarEnd, EveryFigureOfAJitteryPathOnABusyHostIsWithinTenMicrosecondsAndHalfAPercentOfTheRelaysStamps) {
    const std::string stampsPath = ::testing::TempDir() + "veltrane-stamps-" + std::to_string(getpid()) + ".txt";
    constexpr int64_t kLostFirst = 3;
    std::vector<Stream> streams{
        {std::vector<std::string>{"--delay", "15", "--jitter-ms", "2", "--seed", "5", "--lose-first",
                                  std::to_string(kLostFirst), "--stamps", stampsPath},
         {"--count", "1", "--period", "20", "--duration", "5"}}};
    {
        // Stopped by their ids as they go.
        std::vector<std::unique_ptr<ChildProcess>> busy;
        for (int core = 0; core < 2; ++core) {
            busy.push_back(
                std::make_unique<ChildProcess>(std::vector<std::string>{"/bin/sh", "-c", "while :; do :; done"}));
            ASSERT_TRUE(busy.back()->Started());
        }
        ASSERT_NO_FATAL_FAILURE(RunFarEnd(streams, {"--interval", "60000"}));
    }
    const std::vector<Stamp> stamps = ReadStamps(stampsPath);
    std::remove(stampsPath.c_str());
    if (streams[0].relayCounts["realTime"] != true) {
        GTEST_SKIP() << "the relay's stamps are the truth only when it runs in real time (SCHED_FIFO, as root)";
    }
    const int64_t sent = streams[0].SentPackets();
    const auto received = static_cast<int64_t>(stamps.size());
    ASSERT_EQ(received, sent - kLostFirst) << streams[0].relayCounts;
    ASSERT_EQ(stamps.front().group, kLostFirst);

    // The path the relay made: 15 ms, varied by a normal sample of 2 ms.
    std::vector<double> pathMs;
    int64_t bytes = 0;
    for (const Stamp& stamp : stamps) {
        pathMs.push_back(static_cast<double>(stamp.forwardedNs - stamp.arrivedNs) / 1e6);
        bytes += stamp.length;
    }
    const json path = ExactSummary(pathMs);
    EXPECT_NEAR(path["mean"].get<double>(), 15.0, 0.5) << path;
    EXPECT_NEAR(path["stddev"].get<double>(), 2.0, 0.4) << path;

    json truth = DelayFiguresOf(stamps);
    // The first packets were due while the far end listened: lost on the way.
    const int64_t expected = received + kLostFirst;
    const json packets{{"received", received},
                       {"lost", kLostFirst},
                       {"expected", expected},
                       {"lossPercent", 100.0 * kLostFirst / static_cast<double>(expected)},
                       {"duplicates", 0},
                       {"reordered", 0},
                       {"longestLossRun", kLostFirst},
                       {"groupSize", 1},
                       {"groupSizeInferred", false}};
    truth["packets"] = packets;
    truth["interval"]["packets"] = packets;
    truth["firstPacketsLost"] = kLostFirst;
    truth["notTestPackets"] = 0;
    truth["hostDrops"] = 0;
    truth["receiver"].update(json{{"bytesReceived", bytes},
                                  {"analysedCount", received},
                                  {"expectedCount", received},
                                  {"lossPercent", 0.0},
                                  {"outOfOrderCount", 0},
                                  {"duplicateCount", 0},
                                  {"truncatedCount", 0},
                                  {"largestTruncatedLength", 0},
                                  {"dscp", {{"0", received}}},
                                  {"ecn", {{"0", received}}}});
    json reported = Final(streams[0]);
    for (const auto& [figure, value] : truth.items()) {
        ExpectFiguresWithin(reported[figure], value, figure);
    }
}

// A path dead for 2 s of a 6 s run (a 20 s outage of a minute, shortened to the tests' budget;
// the sessions' test takes the whole minute on an injected clock): the reports inside the
// outage are silent and lose every packet due, the session keeps its number, and the run
// loses what the relay dropped, each packet counted once.
TEST(FarEnd, APathDeadForTwoSecondsIsSilentLosingEverythingAndTheRunLosesWhatTheRelayDropped) {
    std::vector<Stream> streams{{std::vector<std::string>{"--blackout-from", "2", "--blackout-for", "2"},
                                 {"--count", "1", "--period", "10", "--duration", "6"}}};
    ASSERT_NO_FATAL_FAILURE(RunFarEnd(streams));
    const Stream& stream = streams[0];
    int deadIntervals = 0;
    int64_t intervalsLost = 0;
    // At the latest report while the sender was heard (its stop is a silence too): the
    // intervals so far and the totals, which by then count the whole gap from the group numbers.
    std::pair<int64_t, int64_t> lostWhileHeard{0, 0};
    for (const json& line : stream.lines) {
        EXPECT_EQ(line["session"], 1);
        EXPECT_EQ(line["run"], 1);
        intervalsLost += line["interval"]["packets"]["lost"].get<int64_t>();
        if (line["silent"] == false) {
            lostWhileHeard = {intervalsLost, line["packets"]["lost"].get<int64_t>()};
        } else if (line["interval"]["packets"]["received"] == 0) {
            ++deadIntervals;
            EXPECT_EQ(line["interval"]["packets"]["lossPercent"], 100.0) << line;
        }
    }
    EXPECT_GE(deadIntervals, 2);  // three of the 500 ms intervals lie inside the outage
    const int64_t dropped = stream.relayCounts["dropped"];
    const int64_t lost = Final(stream)["packets"]["lost"];
    // 200 packets, give or take what a busy host moves the relay's edges by.
    EXPECT_NEAR(static_cast<double>(dropped), 200.0, 50.0) << stream.relayCounts;
    EXPECT_LE(std::abs(lost - dropped), std::max<int64_t>(1, dropped / 100)) << lost << " lost, " << dropped;
    const auto [inIntervals, inTotals] = lostWhileHeard;
    EXPECT_EQ(inTotals, lost);
    EXPECT_LE(std::abs(inIntervals - inTotals), std::max<int64_t>(1, inTotals / 100)) << inIntervals << " in intervals";
}
#endif

}  // namespace
