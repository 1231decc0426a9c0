#pragma once
// DSCP values as network engineers write them: EF, AF11..AF43, CS0..CS7, or 0 to 63.

#include <optional>
#include <string>

// The DSCP value of a name or number (case-insensitive), or nullopt.
std::optional<int> ParseDscp(const std::string& text);
