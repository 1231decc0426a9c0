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

// Sets each session's quality, or the reason it has none (none at all without a judgement).
void JudgeCalls(SessionsReport& report, const std::optional<CallJudgement>& judgement);

// The session's "quality" object, or null; and the reason beside it when null.
void AddQualityJson(nlohmann::ordered_json& line, const SessionFigures& s);

// The readable lines of the verdict; none when no codec was given to judge.
std::string QualityText(const SessionFigures& s);
