#pragma once
// Where the metrics endpoint listens: --metrics ADDR:PORT, an IPv6 address in brackets
// ("[::1]:9101").

#include <cstdint>
#include <optional>
#include <string>

struct MetricsAddress {
    std::string host;  // without brackets: "127.0.0.1", "::1", "localhost"
    uint16_t port = 0;

    std::string Text() const;  // as the user writes it: "127.0.0.1:9101", "[::1]:9101"
};

// The address of "HOST:PORT" or "[IPV6]:PORT", or nullopt with the reason in `error`.
std::optional<MetricsAddress> ParseMetricsAddress(const std::string& text, std::string& error);
