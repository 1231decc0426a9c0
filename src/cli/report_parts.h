#pragma once
// The pieces every report's texts and JSON lines are made of, shared by the report's parts.

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>

#include "sessions/sample_distribution.h"
#include "sessions/session_figures.h"

using Json = nlohmann::ordered_json;

// "1 packet", "2 packets".
std::string Counted(int64_t count, const char* one, const char* many);
// printf's formatting into a string (up to 511 characters).
std::string Printed(const char* format, ...);
// Always an object, null figures before the first sample.
Json PdvJson(const std::optional<PdvSummary>& d);
Json DistributionJson(const std::optional<DistributionSummary>& d);
// One indented line of a distribution's figures in ms, or that it has no samples yet.
std::string DistributionText(const char* name, const std::optional<DistributionSummary>& d);
