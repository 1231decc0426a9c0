#include "cli/report.h"

#include <nlohmann/json.hpp>

#include <cmath>

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
    };
}

Json ReceiverJson(const ReceiverStatistics& s) {
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

std::string ReportText(const Report& report) {
    std::string text;
    if (report.sender) {
        text += ConsoleText(SenderStatisticsText(*report.sender, report.packetSize)) + "\n";
    }
    if (report.receiver) {
        text += ConsoleText(ReceiverStatisticsText(*report.receiver)) + "\n";
        text += "out-of-order packets: " + std::to_string(report.receiver->outOfOrderCount) + "\n";
        text += "duplicate packets: " + std::to_string(report.receiver->duplicateCount) + "\n";
    }
    return text + "\n";
}

std::string ReportJsonLine(const Report& report) {
    Json line{{"elapsed", report.elapsedSeconds}, {"final", report.final}};
    if (report.sender) {
        line["sender"] = SenderJson(*report.sender, report.packetSize);
    }
    if (report.receiver) {
        line["receiver"] = ReceiverJson(*report.receiver);
    }
    return line.dump() + "\n";
}
