#pragma once
// The receiver's verdict on calls of one codec over each sender's path: which codec and
// delay it judges with, and how its reports show the verdict.

#include <nlohmann/json.hpp>

#include <optional>
#include <string>

#include "cli/voice_load.h"
#include "sessions/session_figures.h"

struct CallJudgement {
    VoiceCodec codec;
    std::optional<double> oneWayDelayMs;  // the path's, as the user knows it
};

// The one-way delay a verdict is judged with, and where it comes from; none: the term is left out.
struct JudgedDelay {
    std::optional<double> ms;
    DelaySource source = DelaySource::OneWayDelayOption;
};

// The verdict on calls of `codec` over a path of this loss and delay variation; none, with the
// reason in `why`, for a codec without planning values.
std::optional<CallQuality> JudgeCallsOf(const VoiceCodec& codec,
                                        const LossFigures& loss,
                                        const JitterBufferFigures& jitterBuffer,
                                        const JudgedDelay& delay,
                                        std::string& why);

// A verdict as a report shows it: the quality or the reason it has none, and the buffer figures
// it was judged from (set whenever the quality is).
struct CallVerdict {
    const std::optional<CallQuality>& quality;
    const std::string& reason;
    const std::optional<JitterBufferFigures>& jitterBuffer;
};

// Sets each session's quality, or the reason it has none (none at all without a judgement).
void JudgeCalls(SessionsReport& report, const std::optional<CallJudgement>& judgement);

// The session's "quality" object, or null; and the reason beside it when null.
void AddQualityJson(nlohmann::ordered_json& line, const SessionFigures& s);
void AddQualityJson(nlohmann::ordered_json& line, const CallVerdict& verdict);

// The readable lines of the verdict; none when no codec was given to judge.
std::string QualityText(const SessionFigures& s);
std::string QualityText(const CallVerdict& verdict);
