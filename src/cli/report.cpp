#include "cli/report.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <vector>

#include "cli/call_judgement.h"
#include "cli/report_parts.h"
#include "cli/round_trip_report.h"

namespace {

// The quotients are left as they fall, as in the dialog: a zero divisor gives a value that
// is not finite, which the JSON writer turns into null.
Json SenderJson(const SenderStatistics& s, uint32_t packetSize) {
    const SenderRates rates = DerivedSenderRates(s, packetSize);
    return Json{
        {"packetSize", packetSize},
        {"sentPackets", s.sentPackets},
        {"wouldBlockCount", s.wouldBlockCount},
        {"duration", s.duration},
        {"bandwidth", rates.bandwidthKBs},
        {"maxSendDelay", s.maxSendDelay},
        {"maxSendGroupDelay", s.maxSendGroupDelay},
        {"meanSendDelay", s.meanSendDelay},
        {"wouldBlockPercent", rates.wouldBlockPercent},
        {"lateGroups", s.lateGroups},
        {"maxLatenessMs", s.maxLatenessMs},
        {"groupsPerSecond", rates.groupsPerSecond},
    };
}

Json LoadJson(const LoadReport& report) {
    return Json{
        {"pace", report.fixedPace ? "fixed" : "pause"},
        {"codec", report.codec ? Json(*report.codec) : Json(nullptr)},
        {"calls", report.load.calls},
        {"periodMs", report.load.periodMs},
        {"payloadBytes", report.payloadBytes},
        {"ipVersion", report.load.ipv6 ? 6 : 4},
        {"wireKbitPerSecond", WireKbitPerSecond(report.load)},
    };
}

// Counts keyed by the value seen; null where the receiver cannot read the values.
template <size_t N>
Json ValueCounts(const int64_t (&counts)[N], bool readable) {
    if (!readable) {
        return nullptr;
    }
    Json object = Json::object();
    for (size_t value = 0; value < N; ++value) {
        if (counts[value] != 0) {
            object[std::to_string(value)] = counts[value];
        }
    }
    return object;
}

template <size_t N>
std::string ValueCountsText(const int64_t (&counts)[N]) {
    std::string text;
    for (size_t value = 0; value < N; ++value) {
        if (counts[value] != 0) {
            text += (text.empty() ? "" : ", ") + std::to_string(value) + " (" + std::to_string(counts[value]) + ")";
        }
    }
    return text.empty() ? "none yet" : text;
}

// "1 call", "2 calls": a count and its noun in the right number.
}  // namespace

std::string Counted(int64_t count, const char* one, const char* many) {
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

namespace {

std::string PaceText(const SenderStatistics& s, bool fixedPace) {
    char text[160];
    std::snprintf(text, sizeof(text), "pace: %s, %.6g groups/s, %s (the latest by %.3g ms)\n",
                  fixedPace ? "fixed" : "pause", static_cast<double>(s.groupsSent) / s.duration,
                  Counted(s.lateGroups, "late group", "late groups").c_str(), s.maxLatenessMs);
    return text;
}

std::string LoadText(const LoadReport& report) {
    const SendLoad& load = report.load;
    std::string text = report.codec ? "load: " + Counted(load.calls, "call", "calls") + " of " + *report.codec
                                    : "load: " + Counted(load.calls, "packet", "packets") + " per period";
    char rate[32];
    std::snprintf(rate, sizeof(rate), "%.6g", WireKbitPerSecond(load));
    text += ", " + std::string(rate) + " kbit/s on the wire (" + std::to_string(load.packetBytes) +
            "-byte UDP payloads every " + std::to_string(load.periodMs) + " ms over IPv" + (load.ipv6 ? "6" : "4") +
            ")\n";
    if (report.codec && report.payloadBytes < load.packetBytes) {
        text += *report.codec + "'s " + std::to_string(report.payloadBytes) + "-byte payload is sent as " +
                std::to_string(load.packetBytes) + " bytes, the size of the test packet's header\n";
    }
    return text;
}

// Windows drops a datagram too long for the buffer without telling its length: with
// truncations counted and no length known, the length is unknown (null), not 0 bytes.
Json LargestTruncatedLengthJson(const ReceiverStatistics& s) {
    if (s.truncatedCount > 0 && s.largestTruncatedLength == 0) {
        return nullptr;
    }
    return s.largestTruncatedLength;
}

Json ReceiverJson(const ReceiverStatistics& s, bool readsTrafficClass) {
    return Json{
        {"bytesReceived", s.bytesReceived},
        {"analysedCount", s.analysedCount},
        {"expectedCount", ExpectedCount(s)},
        {"minJitter", s.minJitter},
        {"maxJitter", s.maxJitter},
        {"jitterRms", std::sqrt(s.jitterMeanSquare)},
        {"maxAbsDelay", s.maxAbsDelay},
        {"meanAbsDelay", s.absDelayMean},
        {"absDelayRms", std::sqrt(s.absDelayMeanSquare)},
        {"lossPercent", LossPercent(s)},
        {"outOfOrderCount", s.outOfOrderCount},
        {"duplicateCount", s.duplicateCount},
        {"truncatedCount", s.truncatedCount},
        {"largestTruncatedLength", LargestTruncatedLengthJson(s)},
        {"dscp", ValueCounts(s.dscpCounts, readsTrafficClass)},
        {"ecn", ValueCounts(s.ecnCounts, readsTrafficClass)},
    };
}

Json Optional(const std::optional<double>& value) {
    return value ? Json(*value) : Json(nullptr);
}

}  // namespace

// Always an object, as a distribution's is.
Json PdvJson(const std::optional<PdvSummary>& d) {
    if (!d) {
        return Json{{"count", 0},     {"mean", nullptr}, {"p50", nullptr},
                    {"p95", nullptr}, {"p99", nullptr},  {"max", nullptr}};
    }
    return Json{{"count", d->count}, {"mean", d->mean}, {"p50", d->p50},
                {"p95", d->p95},     {"p99", d->p99},   {"max", d->max}};
}

// Always an object, so that a script reads `jitter.p99` as null before the first sample.
Json DistributionJson(const std::optional<DistributionSummary>& d) {
    if (!d) {
        return Json{{"count", 0},        {"min", nullptr}, {"mean", nullptr}, {"max", nullptr},
                    {"stddev", nullptr}, {"p50", nullptr}, {"p95", nullptr},  {"p99", nullptr}};
    }
    return Json{{"count", d->count},   {"min", d->min}, {"mean", d->mean}, {"max", d->max},
                {"stddev", d->stddev}, {"p50", d->p50}, {"p95", d->p95},   {"p99", d->p99}};
}

namespace {

Json PacketsJson(const LossFigures& p) {
    return Json{
        {"received", p.received},
        {"lost", p.lost},
        {"expected", p.expected},
        {"lossPercent", Optional(p.LossPercent())},
        {"duplicates", p.duplicates},
        {"reordered", p.reordered},
        {"longestLossRun", p.longestLossRun},
        {"groupSize", p.groupSize > 0 ? Json(p.groupSize) : Json(nullptr)},
        {"groupSizeInferred", p.groupSizeInferred},
    };
}

Json HistogramJson(const ReceiverStatistics& record) {
    return Json{{"fromMs", kHistogramFromMs},
                {"binMs", kHistogramBinMs},
                {"weights", std::vector<double>(std::begin(record.jitterHistogram), std::end(record.jitterHistogram))}};
}

Json LineStart(const Report& report, bool final) {
    return Json{{"time", Rfc3339Utc(report.time)}, {"elapsed", report.elapsedSeconds}, {"final", final}};
}

// What every receiver line tells of the receiving host: how arrivals were stamped, the socket's
// receive buffer, and the datagrams the host itself dropped (every source together).
void AddHostJson(Json& line, const Report& report) {
    line["timestamps"] = report.kernelTimestamps ? "kernel" : "user";
    line["receiveBufferBytes"] = report.grantedReceiveBuffer > 0 ? Json(report.grantedReceiveBuffer) : Json(nullptr);
    line["hostDrops"] = report.sessions ? report.sessions->hostDrops : 0;
}

// Why a session ended, in the report's words.
const char* EndedText(SessionEnd end) {
    switch (end) {
        case SessionEnd::BySender:
            return "by the sender";
        case SessionEnd::TimedOut:
            return "timed out";
        case SessionEnd::PushedOut:
            return "pushed out";
        case SessionEnd::ReceiverStopped:
            return "by the receiver";
        case SessionEnd::Open:
            break;
    }
    return "open";
}

Json SessionJson(const Report& report, const SessionFigures& s, bool withHistogram) {
    Json line = LineStart(report, report.final || s.final);
    line["source"] = s.source.ToString();
    line["senderName"] = s.senderName ? Json(*s.senderName) : Json(nullptr);
    line["session"] = s.session;
    line["run"] = s.run;
    if (s.final) {
        line["ended"] = EndedText(s.ended);
    }
    line["silent"] = s.silent;
    line["silentSeconds"] = s.silent ? s.lastPacketAgeSeconds : 0.0;
    line["receiver"] = ReceiverJson(s.record, report.readsTrafficClass);
    line["packets"] = PacketsJson(s.packets);
    line["firstPacketsLost"] = s.packets.firstPacketsLost;
    line["jitter"] = DistributionJson(s.jitter);
    line["delay"] = DistributionJson(s.delay);
    line["delaySkewRemoved"] = DistributionJson(s.delaySkewRemoved);
    line["pdv"] = PdvJson(s.pdv);
    line["rfc3550Jitter"] = Optional(s.rfc3550JitterMs);
    line["skewPpm"] = Optional(s.skewPpm);
    line["skewPpmError"] = Optional(s.skewPpmError);
    line["notTestPackets"] = s.notTestPackets;
    AddQualityJson(line, s);
    AddHostJson(line, report);
    line["interval"] = Json{{"packets", PacketsJson(s.interval.packets)},
                            {"jitter", DistributionJson(s.interval.jitter)},
                            {"delay", DistributionJson(s.interval.delay)},
                            {"pdv", PdvJson(s.interval.pdv)}};
    if (withHistogram) {
        line["histogram"] = HistogramJson(s.record);
    }
    return line;
}

// The receiver's totals, written at every report after the sessions' lines: a script watching
// a table under attack (refused, unconfirmed, dropped) must see the counts while sessions are
// open too, and a receiver without a session still reports.
Json TotalsJson(const Report& report, const SessionsReport& sessions) {
    Json line = LineStart(report, report.final);
    line["sessions"] = sessions.sessions.size();  // the session lines of this report
    line["sessionsStarted"] = sessions.sessionsStarted;
    line["bytesReceived"] = sessions.bytesReceived;
    line["notTestPackets"] = sessions.notTestPackets;
    line["droppedSessions"] = sessions.droppedSessions;
    line["openSessions"] = sessions.openSessions;
    line["refusedSessions"] = sessions.refusedSessions;
    line["unconfirmedSources"] = sessions.unconfirmedSources;
    line["unauthenticatedPackets"] = sessions.unauthenticatedPackets;
    AddHostJson(line, report);
    if (report.receiver) {
        line["truncatedCount"] = report.receiver->truncatedCount;
        line["largestTruncatedLength"] = LargestTruncatedLengthJson(*report.receiver);
    }
    return line;
}

std::string SenderDialogText(const Report& report) {
    std::string text = ConsoleText(SenderStatisticsText(*report.sender, report.packetSize)) + "\n";
    if (report.load) {
        text += LoadText(*report.load) + PaceText(*report.sender, report.load->fixedPace);
    }
    return text;
}

}  // namespace

std::string Printed(const char* format, ...) {
    char text[512];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof(text), format, arguments);
    va_end(arguments);
    return text;
}

namespace {

std::string SenderReadableText(const Report& report) {
    const SenderStatistics& s = *report.sender;
    std::string text = Rfc3339Utc(report.time) + Printed(" sender, %.1f s:\n", report.elapsedSeconds);
    text += "  sent: " + Counted(s.sentPackets, "packet", "packets") + Printed(" of %u bytes in ", report.packetSize) +
            Counted(s.groupsSent, "group", "groups") +
            Printed(", %.2f KB/s\n", s.duration > 0 ? DerivedSenderRates(s, report.packetSize).bandwidthKBs : 0.0);
    text += Printed("  send time: %.3f ms at most, %.3f ms mean, %.3f ms at most for a group\n", s.maxSendDelay,
                    s.meanSendDelay, s.maxSendGroupDelay);
    text += Printed("  sends refused as the socket buffer was full: %lld\n", static_cast<long long>(s.wouldBlockCount));
    if (report.load) {
        text += "  " + LoadText(*report.load) + "  " + PaceText(s, report.load->fixedPace);
    }
    if (report.roundTrip) {
        text += RoundTripText(*report.roundTrip);
    }
    return text + "\n";
}

}  // namespace

std::string DistributionText(const char* name, const std::optional<DistributionSummary>& d) {
    if (!d) {
        return Printed("  %s: no samples yet\n", name);
    }
    return Printed("  %s (ms): p50 %.3f, p95 %.3f, p99 %.3f; min %.3f, mean %.3f, max %.3f, stddev %.3f (%s)\n", name,
                   d->p50, d->p95, d->p99, d->min, d->mean, d->max, d->stddev,
                   Counted(d->count, "sample", "samples").c_str());
}

namespace {

std::string PacketsText(const LossFigures& p) {
    std::string text = Printed("%lld received, ", static_cast<long long>(p.received));
    if (const std::optional<double> loss = p.LossPercent()) {
        // Only closed groups (64 behind the latest) are counted yet: say how many packets that is.
        text += Printed("%lld lost (%.3f %% of %lld in closed groups)", static_cast<long long>(p.lost), *loss,
                        static_cast<long long>(p.expected));
    } else {
        text += "loss not counted yet";
    }
    return text + ", " + Counted(p.duplicates, "duplicate", "duplicates") +
           Printed(", %lld reordered", static_cast<long long>(p.reordered));
}

std::string SessionHeading(const SessionFigures& s) {
    const std::string ended = s.final ? std::string(" (ended: ") + EndedText(s.ended) + ")" : "";
    const std::string name = s.senderName ? " \"" + *s.senderName + "\"" : "";
    return Printed("session %lld%s from %s, run %lld%s:\n", static_cast<long long>(s.session), name.c_str(),
                   s.source.ToString().c_str(), static_cast<long long>(s.run), ended.c_str());
}

// The DSCP and ECN counts, a line each.
std::string TrafficClassText(const ReceiverStatistics& record, const char* indent) {
    const std::string start(indent);
    return start + "DSCP values seen (packets): " + ValueCountsText(record.dscpCounts) + "\n" + start +
           "ECN values seen (packets): " + ValueCountsText(record.ecnCounts) + "\n";
}

std::string SessionReadableText(const SessionFigures& s, bool readsTrafficClass) {
    std::string text = SessionHeading(s);
    if (s.silent) {
        text += Printed("  silent for %.1f s: the groups due meanwhile count as lost in the last interval\n",
                        s.lastPacketAgeSeconds);
    }
    text += "  packets: " + PacketsText(s.packets) +
            Printed(", longest loss run %lld\n", static_cast<long long>(s.packets.longestLossRun));
    if (s.packets.groupSize > 0) {
        text += "  group size: " + Counted(s.packets.groupSize, "packet", "packets") +
                (s.packets.groupSizeInferred ? " (inferred from the largest index seen)\n" : "\n");
    }
    text += DistributionText("jitter", s.jitter);
    text += DistributionText("delay", s.delay);
    text += DistributionText("delay without clock skew", s.delaySkewRemoved);
    text += s.pdv ? Printed(
                        "  delay variation above the least delay (ms): p50 %.3f, p95 %.3f, p99 %.3f; mean %.3f, "
                        "max %.3f\n",
                        s.pdv->p50, s.pdv->p95, s.pdv->p99, s.pdv->mean, s.pdv->max)
                  : std::string("  delay variation above the least delay: no samples yet\n");
    text += s.rfc3550JitterMs ? Printed("  RFC 3550 jitter: %.3f ms\n", *s.rfc3550JitterMs)
                              : std::string("  RFC 3550 jitter: none yet\n");
    text += s.skewPpm ? Printed("  clock skew: %.1f ppm%s\n", *s.skewPpm,
                                s.skewPpmError ? Printed(" (within %.1f)", *s.skewPpmError).c_str() : "")
                      : std::string("  clock skew: not known yet\n");
    text += QualityText(s);
    text += "  last interval: " + PacketsText(s.interval.packets) + "\n";
    text += DistributionText("  jitter", s.interval.jitter);
    text += Printed("  first packets lost: %lld; datagrams that were not test packets: %lld\n",
                    static_cast<long long>(s.packets.firstPacketsLost), static_cast<long long>(s.notTestPackets));
    if (readsTrafficClass) {
        text += TrafficClassText(s.record, "  ");
    }
    return text + "\n";
}

// The receiving host's line: how arrivals were stamped, its socket's buffer and what it dropped.
std::string HostText(const Report& report, const SessionsReport& sessions) {
    std::string text = Printed("  host: %s timestamps, ", report.kernelTimestamps ? "kernel" : "user");
    text += report.grantedReceiveBuffer > 0
                ? Printed("receive buffer %lld bytes, ", static_cast<long long>(report.grantedReceiveBuffer))
                : std::string("the system's receive buffer, ");
    return text + Counted(sessions.hostDrops, "datagram", "datagrams") +
           " dropped by this host (counted as lost, though not on the path)\n";
}

// The receiver's line, '\n' ended.
std::string ReceiverTotalsText(const Report& report, const SessionsReport& sessions) {
    std::string text = "receiver: ";
    if (sessions.sessions.empty()) {
        text += sessions.sessionsStarted == 0 ? "no test packets yet; "
                                              : "no open session (every sender was quiet for the time-out); ";
    }
    text += Counted(sessions.bytesReceived, "byte", "bytes") + " received, " +
            Counted(sessions.notTestPackets, "datagram was not a test packet", "datagrams were not test packets") +
            ", " + Counted(sessions.droppedSessions, "session", "sessions") + " dropped";
    if (report.receiver && report.receiver->truncatedCount > 0) {
        text += ", " + Counted(report.receiver->truncatedCount, "datagram", "datagrams") + " longer than --size";
    }
    // A full table and spoofed sources are rare: told only when they happened.
    if (sessions.refusedSessions > 0) {
        text += ", " + Counted(sessions.refusedSessions, "sender", "senders") + " refused (the table was full)";
    }
    if (sessions.unconfirmedSources > 0) {
        text += ", " + Counted(sessions.unconfirmedSources, "source", "sources") + " whose packets confirmed no run";
    }
    // Only a keyed receiver refuses datagrams for their tag: without a key the figure stays 0.
    if (sessions.unauthenticatedPackets > 0) {
        text +=
            Printed(", %lld datagrams without the key's tag", static_cast<long long>(sessions.unauthenticatedPackets));
    }
    return text + "\n";
}

// Today's texts of the dialog: its receiver text, then the order and mark counts.
std::string RecordDialogText(const ReceiverStatistics& record, bool readsTrafficClass) {
    std::string text = ConsoleText(ReceiverStatisticsText(record)) + "\n";
    text += "out-of-order packets: " + std::to_string(record.outOfOrderCount) + "\n";
    text += "duplicate packets: " + std::to_string(record.duplicateCount) + "\n";
    if (record.truncatedCount > 0) {
        text += "datagrams longer than --size: " + std::to_string(record.truncatedCount) + "\n";
    }
    if (readsTrafficClass) {
        text += TrafficClassText(record, "");
    }
    return text;
}

std::string ReceiverDialogText(const Report& report, const SessionsReport& sessions) {
    // Without a session there is no sender whose figures the dialog would show: its text of
    // an empty record would claim a loss of 100 %.
    if (sessions.sessions.empty()) {
        return ReceiverTotalsText(report, sessions) + "\n";
    }
    std::string text;
    for (const SessionFigures& s : sessions.sessions) {
        text += SessionHeading(s) + RecordDialogText(s.record, report.readsTrafficClass) + "\n";
    }
    return text;
}

// The report's sessions, or none; never a copy (a report holds kilobytes per session).
const SessionsReport& SessionsOf(const Report& report) {
    static const SessionsReport kNone;
    return report.sessions ? *report.sessions : kNone;
}

bool HasReceiver(const Report& report) {
    return report.receiver || report.sessions;
}

}  // namespace

// The dialog's texts end their lines in CR LF; a console or a pipe wants the platform's
// line end, which the C runtime makes of '\n' (CR LF on Windows again).
std::string ConsoleText(std::string text) {
    for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at)) {
        text.erase(at, 1);
    }
    // An error without details ends in a line break already.
    while (!text.empty() && text.back() == '\n') {
        text.pop_back();
    }
    return text;
}

std::string TruncationNotice(const ReceiverStatistics& statistics, uint32_t bufferSize) {
    const bool one = statistics.truncatedCount == 1;
    std::string text = "veltrane-cli: " + Counted(statistics.truncatedCount, "datagram was", "datagrams were") +
                       " longer than the receiver's --size of " + std::to_string(bufferSize) + " bytes and " +
                       (one ? "was" : "were") + " dropped";
    if (statistics.largestTruncatedLength > 0) {
        text += " (the largest had " + std::to_string(statistics.largestTruncatedLength) +
                " bytes); give the receiver --size " + std::to_string(statistics.largestTruncatedLength);
    } else {
        text += "; give the receiver the sender's --size";
    }
    return text + "\n";
}

std::string Rfc3339Utc(std::chrono::system_clock::time_point time) {
    using namespace std::chrono;
    const auto milliseconds = floor<std::chrono::milliseconds>(time);
    const auto day = floor<days>(milliseconds);
    const year_month_day date(day);
    const hh_mm_ss<std::chrono::milliseconds> clock(milliseconds - day);
    return Printed("%04d-%02u-%02uT%02lld:%02lld:%02lld.%03lldZ", static_cast<int>(date.year()),
                   static_cast<unsigned>(date.month()), static_cast<unsigned>(date.day()),
                   static_cast<long long>(clock.hours().count()), static_cast<long long>(clock.minutes().count()),
                   static_cast<long long>(clock.seconds().count()), static_cast<long long>(clock.subseconds().count()));
}

std::string ReportText(const Report& report, TextStyle style) {
    std::string text;
    if (report.sender) {
        text += style == TextStyle::Dialog ? SenderDialogText(report) : SenderReadableText(report);
    }
    if (report.reflector) {
        text += Rfc3339Utc(report.time) + Printed(" reflector, %.1f s:\n", report.elapsedSeconds) +
                ReflectorText(*report.reflector) + "\n";
    }
    if (!HasReceiver(report)) {
        return text + (style == TextStyle::Dialog ? "\n" : "");
    }
    const SessionsReport& sessions = SessionsOf(report);
    if (style == TextStyle::Dialog) {
        return text + ReceiverDialogText(report, sessions);
    }
    // Each block starts with the report's time, so that a block read alone (in a journal,
    // through grep) still tells when it was taken.
    const std::string time = Rfc3339Utc(report.time) + " ";
    for (const SessionFigures& s : sessions.sessions) {
        text += time + SessionReadableText(s, report.readsTrafficClass);
    }
    return text + time + ReceiverTotalsText(report, sessions) + HostText(report, sessions) + "\n";
}

std::string ReportJsonLines(const Report& report, bool withHistogram) {
    std::string lines;
    if (report.sender) {
        Json line = LineStart(report, report.final);
        line["sender"] = SenderJson(*report.sender, report.packetSize);
        if (report.load) {
            line["sender"]["load"] = LoadJson(*report.load);
        }
        if (report.roundTrip) {
            AddRoundTripJson(line["sender"], *report.roundTrip);
        }
        lines += line.dump() + "\n";
    }
    if (report.reflector) {
        Json line = LineStart(report, report.final);
        line["reflector"] = ReflectorJson(*report.reflector);
        lines += line.dump() + "\n";
    }
    if (!HasReceiver(report)) {
        return lines;
    }
    const SessionsReport& sessions = SessionsOf(report);
    for (const SessionFigures& s : sessions.sessions) {
        lines += SessionJson(report, s, withHistogram).dump() + "\n";
    }
    return lines + TotalsJson(report, sessions).dump() + "\n";
}
