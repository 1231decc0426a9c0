#include "cli/call_judgement.h"

#include "cli/report_parts.h"

namespace {

constexpr const char* kNoCodec = "no --codec given to judge calls by";

std::string Family(const VoiceCodec& codec) {
    const std::string name = codec.name;
    return name.substr(0, name.find('-'));
}

const char* DelaySourceName(DelaySource source) {
    switch (source) {
        case DelaySource::OneWayDelayOption:
            return "oneWayDelayOption";
        case DelaySource::HalfRoundTrip:
            return "halfRoundTrip";
        default:
            return "missing";
    }
}

void Judge(SessionFigures& s, const CallJudgement& judgement) {
    if (!s.jitterBuffer) {
        s.qualityReason = "no delay measured yet";
        return;
    }
    s.quality = JudgeCallsOf(judgement.codec, s.packets, *s.jitterBuffer,
                             {judgement.oneWayDelayMs, DelaySource::OneWayDelayOption}, s.qualityReason);
}

}  // namespace

std::optional<CallQuality> JudgeCallsOf(const VoiceCodec& voiceCodec,
                                        const LossFigures& loss,
                                        const JitterBufferFigures& jitterBuffer,
                                        const JudgedDelay& delay,
                                        std::string& why) {
    const std::optional<CodecImpairment> codec = FindCodecImpairment(Family(voiceCodec), &why);
    if (!codec) {
        return std::nullopt;
    }
    CallQualityInputs inputs{*codec, static_cast<double>(voiceCodec.periodMs), loss, jitterBuffer, delay.ms};
    inputs.oneWayDelaySource = delay.source;
    CallQuality quality = JudgeCall(inputs);
    quality.codec = voiceCodec.name;
    quality.codecLabel = std::string(codec->displayName) + "/" + std::to_string(voiceCodec.periodMs) + " ms";
    return quality;
}

void JudgeCalls(SessionsReport& report, const std::optional<CallJudgement>& judgement) {
    for (SessionFigures& s : report.sessions) {
        s.quality.reset();
        s.qualityReason = judgement ? std::string() : kNoCodec;
        if (judgement) {
            Judge(s, *judgement);
        }
    }
}

void AddQualityJson(Json& line, const CallVerdict& v) {
    if (!v.quality) {
        line["quality"] = nullptr;
        line["qualityReason"] = v.reason;
        return;
    }
    const CallQuality& q = *v.quality;
    Json late = Json::array();
    for (size_t i = 0; i < kPlayoutBuffersMs.size(); ++i) {
        late.push_back(Json{{"bufferMs", kPlayoutBuffersMs[i]}, {"latePercent", v.jitterBuffer->latePercent[i]}});
    }
    line["quality"] = Json{
        {"codec", q.codec},
        {"rFactor", q.rFactor},
        {"mos", q.mos},
        {"delayMs", q.delayMs ? Json(*q.delayMs) : Json(nullptr)},
        {"delaySource", DelaySourceName(q.delaySource)},
        {"lossPercent", q.lossPercent},
        {"burstR", q.burstR},
        {"jitterBufferMs", q.jitterBufferMs},
        {"latePercent", q.latePercent},
        {"bufferSufficient", q.bufferSufficient},
        {"lateByBuffer", late},
    };
}

void AddQualityJson(Json& line, const SessionFigures& s) {
    AddQualityJson(line, CallVerdict{s.quality, s.qualityReason, s.jitterBuffer});
}

std::string QualityText(const CallVerdict& v) {
    if (!v.quality) {
        return v.reason == kNoCodec ? std::string() : "  call quality: not judged: " + v.reason + "\n";
    }
    const CallQuality& q = *v.quality;
    std::string text = Printed("  call quality: MOS %.2f (R %.1f) for ", q.mos, q.rFactor) + q.codecLabel +
                       Printed(" with a %.0f ms buffer", q.jitterBufferMs);
    text += q.bufferSufficient ? "\n" : Printed(" (too small: %.2f %% of the packets come later)\n", q.latePercent);
    text += Printed("    loss %.3f %% with the late packets, burst ratio %.2f; ", q.lossPercent, q.burstR);
    if (!q.delayMs) {
        return text + "the delay term is missing: give --one-way-delay MS\n";
    }
    return text + Printed(q.delaySource == DelaySource::HalfRoundTrip
                              ? "delay %.1f ms (half the round trip, the buffer and one packet interval)\n"
                              : "delay %.1f ms (--one-way-delay, the buffer and one packet interval)\n",
                          *q.delayMs);
}

std::string QualityText(const SessionFigures& s) {
    return QualityText(CallVerdict{s.quality, s.qualityReason, s.jitterBuffer});
}
