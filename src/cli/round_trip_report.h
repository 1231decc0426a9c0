#pragma once
// What a report shows of a round trip (the sender's side of send --round-trip) and of a
// reflector: the figures, the call verdict over the measured round trip, the texts and JSON.

#include <nlohmann/json.hpp>

#include <optional>
#include <string>

#include "cli/reflector.h"
#include "cli/voice_load.h"
#include "sessions/call_quality.h"
#include "sessions/round_trip.h"

struct RoundTripReport {
    RoundTripFigures figures;
    // Packets sent after the latest echoed one: lost one way or the other, or still under way;
    // no count tells which.
    int64_t unresolved = 0;
    std::optional<CallQuality> quality;
    std::string qualityReason;  // why there is none
};

struct ReflectorReport {
    ReflectorCounts counts;
    bool kernelTimestamps = false;   // the receive stamps are the kernel's
    int64_t receiveBufferBytes = 0;  // as the system granted it; 0: its default
};

// The figures with the verdict on calls of `codec` (none: not judged): the loss on the way out,
// the delay variation on the way out and half the round trip's median as the one-way delay.
RoundTripReport JudgeRoundTrip(const RoundTripFigures& figures, const std::optional<VoiceCodec>& codec);

// Adds "roundTrip", "turnaround", "loss", the delay variation of each way and "quality" to the
// sender's JSON object.
void AddRoundTripJson(nlohmann::ordered_json& sender, const RoundTripReport& report);
// The readable lines of the sender's block.
std::string RoundTripText(const RoundTripReport& report);

nlohmann::ordered_json ReflectorJson(const ReflectorReport& report);
std::string ReflectorText(const ReflectorReport& report);
