#include "cli/report.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdio>

#include "base/errors.h"

namespace {

using Json = nlohmann::ordered_json;

// The quotients are left as they fall, as in the dialog: a zero divisor gives a value that
// is not finite, which the JSON writer turns into null.
Json SenderJson(const SenderStatistics& s, uint32_t packetSize) {
    return Json{
        {"packetSize", packetSize},
        {"sentPackets", s.sentPackets},
        {"wouldBlockCount", s.wouldBlockCount},
        {"duration", s.duration},
        {"bandwidth", static_cast<double>(s.sentPackets) * packetSize / s.duration / 1024.0},
        {"maxSendDelay", s.maxSendDelay},
        {"maxSendGroupDelay", s.maxSendGroupDelay},
        {"meanSendDelay", s.meanSendDelay},
        {"wouldBlockPercent", static_cast<double>(s.wouldBlockCount) / static_cast<double>(s.sentPackets) * 100.0},
        {"lateGroups", s.lateGroups},
        {"maxLatenessMs", s.maxLatenessMs},
        {"groupsPerSecond", static_cast<double>(s.groupsSent) / s.duration},
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

std::string PaceText(const SenderStatistics& s, bool fixedPace) {
    char text[160];
    std::snprintf(text, sizeof(text), "pace: %s, %.6g groups/s, %lld late groups (the latest by %.3g ms)\n",
                  fixedPace ? "fixed" : "pause", static_cast<double>(s.groupsSent) / s.duration,
                  static_cast<long long>(s.lateGroups), s.maxLatenessMs);
    return text;
}

std::string LoadText(const LoadReport& report) {
    const SendLoad& load = report.load;
    std::string text = report.codec ? "load: " + std::to_string(load.calls) + " calls of " + *report.codec
                                    : "load: " + std::to_string(load.calls) + " packets per period";
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
        // Per receiver for now; these move with the rest into a record per sender.
        {"dscp", ValueCounts(s.dscpCounts, readsTrafficClass)},
        {"ecn", ValueCounts(s.ecnCounts, readsTrafficClass)},
    };
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
    std::string text = "veltrane-cli: " + std::to_string(statistics.truncatedCount) +
                       " datagrams were longer than the receiver's --size of " + std::to_string(bufferSize) +
                       " bytes and were dropped";
    if (statistics.largestTruncatedLength > 0) {
        text += " (the largest had " + std::to_string(statistics.largestTruncatedLength) +
                " bytes); give the receiver --size " + std::to_string(statistics.largestTruncatedLength);
    } else {
        text += "; give the receiver the sender's --size";
    }
    return text + "\n";
}

std::string ErrorReportText(const Exception& e) {
    const std::string reason = ExceptionReason(e);
    return ConsoleText(ExceptionText(e)) + (reason.empty() ? "" : "\n" + reason);
}

std::string ReportText(const Report& report) {
    std::string text;
    if (report.sender) {
        text += ConsoleText(SenderStatisticsText(*report.sender, report.packetSize)) + "\n";
    }
    if (report.load) {
        text += LoadText(*report.load);
        if (report.sender) {
            text += PaceText(*report.sender, report.load->fixedPace);
        }
    }
    if (report.receiver) {
        const ReceiverStatistics& receiver = *report.receiver;
        text += ConsoleText(ReceiverStatisticsText(receiver)) + "\n";
        text += "out-of-order packets: " + std::to_string(receiver.outOfOrderCount) + "\n";
        text += "duplicate packets: " + std::to_string(receiver.duplicateCount) + "\n";
        if (receiver.truncatedCount > 0) {
            text += "datagrams longer than --size: " + std::to_string(receiver.truncatedCount) + "\n";
        }
        if (report.readsTrafficClass) {
            text += "DSCP values seen (packets): " + ValueCountsText(receiver.dscpCounts) + "\n";
            text += "ECN values seen (packets): " + ValueCountsText(receiver.ecnCounts) + "\n";
        }
    }
    return text + "\n";
}

std::string ReportJsonLine(const Report& report) {
    Json line{{"elapsed", report.elapsedSeconds}, {"final", report.final}};
    if (report.sender) {
        line["sender"] = SenderJson(*report.sender, report.packetSize);
        if (report.load) {
            line["sender"]["load"] = LoadJson(*report.load);
        }
    }
    if (report.receiver) {
        line["receiver"] = ReceiverJson(*report.receiver, report.readsTrafficClass);
    }
    return line.dump() + "\n";
}
