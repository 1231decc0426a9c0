#include "cli/round_trip_report.h"

#include "cli/call_judgement.h"
#include "cli/report_parts.h"

namespace {

// The round-trip time's summary: its percentiles and extremes, in ms.
Json RoundTripJson(const std::optional<DistributionSummary>& d) {
    const Json all = DistributionJson(d);
    Json shown;
    for (const char* key : {"count", "min", "mean", "p50", "p95", "p99", "max"}) {
        shown[key] = all[key];
    }
    return shown;
}

Json WindowJson(const RoundTripDistributions& d) {
    return Json{{"roundTrip", RoundTripJson(d.roundTrip)},
                {"turnaround", DistributionJson(d.turnaround)},
                {"forwardPdv", PdvJson(d.forwardPdv)},
                {"returnPdv", PdvJson(d.returnPdv)}};
}

std::string PdvText(const char* way, const std::optional<PdvSummary>& d) {
    if (!d) {
        return Printed("  delay variation %s: no samples yet\n", way);
    }
    return Printed("  delay variation %s (ms above the least): p50 %.3f, p95 %.3f, p99 %.3f, max %.3f\n", way, d->p50,
                   d->p95, d->p99, d->max);
}

}  // namespace

RoundTripReport JudgeRoundTrip(const RoundTripFigures& figures, const std::optional<VoiceCodec>& codec) {
    RoundTripReport report;
    report.figures = figures;
    if (!codec) {
        report.qualityReason = "no --codec sets the calls to judge";
        return report;
    }
    if (!figures.forwardJitterBuffer || !figures.run.roundTrip) {
        report.qualityReason = "no echo yet";
        return report;
    }
    LossFigures loss;
    loss.received = figures.reflected;
    loss.expected = figures.sentThrough;
    loss.lost = figures.forwardLost;
    loss.lossRuns = figures.forwardLossRuns;
    report.quality = JudgeCallsOf(*codec, loss, *figures.forwardJitterBuffer,
                                  {figures.run.roundTrip->p50 / 2, DelaySource::HalfRoundTrip}, report.qualityReason);
    return report;
}

void AddRoundTripJson(Json& sender, const RoundTripReport& report) {
    const RoundTripFigures& f = report.figures;
    const Json run = WindowJson(f.run);
    for (const auto& [key, value] : run.items()) {
        sender[key] = value;
    }
    sender["roundTripLoss"] =
        Json{{"sent", f.sentThrough},           {"reflected", f.reflected},   {"returned", f.echoes},
             {"forwardLost", f.forwardLost},    {"returnLost", f.returnLost}, {"unresolved", report.unresolved},
             {"duplicates", f.duplicateEchoes}, {"refused", f.refusedEchoes}};
    sender["interval"] = WindowJson(f.interval);
    AddQualityJson(sender, CallVerdict{report.quality, report.qualityReason, f.forwardJitterBuffer});
}

std::string RoundTripText(const RoundTripReport& report) {
    const RoundTripFigures& f = report.figures;
    std::string text = DistributionText("round trip", f.run.roundTrip);
    text += DistributionText("reflector turnaround", f.run.turnaround);
    text += Printed(
        "  round trip loss: %lld of %lld lost on the way out, %lld of %lld on the way back, %lld sent since "
        "the latest echo (%s, %s)\n",
        static_cast<long long>(f.forwardLost), static_cast<long long>(f.sentThrough),
        static_cast<long long>(f.returnLost), static_cast<long long>(f.reflected),
        static_cast<long long>(report.unresolved), Counted(f.duplicateEchoes, "duplicate", "duplicates").c_str(),
        Counted(f.refusedEchoes, "datagram refused", "datagrams refused").c_str());
    text += PdvText("out", f.run.forwardPdv) + PdvText("back", f.run.returnPdv);
    return text + QualityText(CallVerdict{report.quality, report.qualityReason, f.forwardJitterBuffer});
}

Json ReflectorJson(const ReflectorReport& report) {
    const ReflectorCounts& c = report.counts;
    return Json{{"datagrams", c.datagrams},
                {"answered", c.answered},
                {"notTestPackets", c.notTestPackets},
                {"runEnds", c.runEnds},
                {"alreadyStamped", c.alreadyStamped},
                {"tooShort", c.tooShort},
                {"refusedSources", c.refusedSources},
                {"unauthenticated", c.unauthenticated},
                {"truncated", c.truncated},
                {"answersRefused", c.answersRefused},
                {"sources", c.sources},
                {"kernelTimestamps", report.kernelTimestamps},
                {"receiveBufferBytes", report.receiveBufferBytes}};
}

std::string ReflectorText(const ReflectorReport& report) {
    const ReflectorCounts& c = report.counts;
    return Printed(
        "  answered %lld of %lld datagrams from %s; not answered: %lld no test packets, %lld ends of runs, %lld "
        "already "
        "stamped, %lld too short, %lld from sources beyond the bound, %lld without the key's tag, %lld too "
        "long; %lld answers refused by the socket; receive buffer %lld bytes\n",
        static_cast<long long>(c.answered), static_cast<long long>(c.datagrams),
        Counted(c.sources, "source", "sources").c_str(), static_cast<long long>(c.notTestPackets),
        static_cast<long long>(c.runEnds), static_cast<long long>(c.alreadyStamped), static_cast<long long>(c.tooShort),
        static_cast<long long>(c.refusedSources), static_cast<long long>(c.unauthenticated),
        static_cast<long long>(c.truncated), static_cast<long long>(c.answersRefused),
        static_cast<long long>(report.receiveBufferBytes));
}
