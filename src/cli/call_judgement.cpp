#include "cli/call_judgement.h"

#include <cstdio>

namespace {

using Json = nlohmann::ordered_json;

constexpr const char* kNoCodec = "no --codec given to judge calls by";

std::string Family(const VoiceCodec& codec) {
    const std::string name = codec.name;
    return name.substr(0, name.find('-'));
}

const char* DelaySourceName(DelaySource source) {
    return source == DelaySource::OneWayDelayOption ? "oneWayDelayOption" : "missing";
}

void Judge(SessionFigures& s, const CallJudgement& judgement) {
    std::string why;
    const std::optional<CodecImpairment> codec = FindCodecImpairment(Family(judgement.codec), &why);
    if (!codec) {
        s.qualityReason = why;
        return;
    }
    if (!s.jitterBuffer) {
        s.qualityReason = "no delay measured yet";
        return;
    }
    s.quality = JudgeCall(CallQualityInputs{*codec, static_cast<double>(judgement.codec.periodMs), s.packets,
                                            *s.jitterBuffer, judgement.oneWayDelayMs});
    s.quality->codec = judgement.codec.name;
    s.quality->codecLabel = std::string(codec->displayName) + "/" + std::to_string(judgement.codec.periodMs) + " ms";
}

std::string Printed(const char* format, double a, double b = 0, double c = 0) {
    char text[160];
    std::snprintf(text, sizeof(text), format, a, b, c);
    return text;
}

}  // namespace

void JudgeCalls(SessionsReport& report, const std::optional<CallJudgement>& judgement) {
    for (SessionFigures& s : report.sessions) {
        s.quality.reset();
        s.qualityReason = judgement ? std::string() : kNoCodec;
        if (judgement) {
            Judge(s, *judgement);
        }
    }
}

void AddQualityJson(Json& line, const SessionFigures& s) {
    if (!s.quality) {
        line["quality"] = nullptr;
        line["qualityReason"] = s.qualityReason;
        return;
    }
    const CallQuality& q = *s.quality;
    Json late = Json::array();
    for (size_t i = 0; i < kPlayoutBuffersMs.size(); ++i) {
        late.push_back(Json{{"bufferMs", kPlayoutBuffersMs[i]}, {"latePercent", s.jitterBuffer->latePercent[i]}});
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

std::string QualityText(const SessionFigures& s) {
    if (!s.quality) {
        return s.qualityReason == kNoCodec ? std::string() : "  call quality: not judged: " + s.qualityReason + "\n";
    }
    const CallQuality& q = *s.quality;
    std::string text = Printed("  call quality: MOS %.2f (R %.1f) for ", q.mos, q.rFactor) + q.codecLabel +
                       Printed(" with a %.0f ms buffer", q.jitterBufferMs);
    text += q.bufferSufficient ? "\n" : Printed(" (too small: %.2f %% of the packets come later)\n", q.latePercent);
    text += Printed("    loss %.3f %% with the late packets, burst ratio %.2f; ", q.lossPercent, q.burstR);
    text += q.delayMs ? Printed("delay %.1f ms (--one-way-delay, the buffer and one packet interval)\n", *q.delayMs)
                      : std::string("the delay term is missing: give --one-way-delay MS\n");
    return text;
}
