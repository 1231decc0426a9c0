#pragma once
// Addresses written with their port, "HOST:PORT" or "[IPV6]:PORT": where the metrics
// endpoint listens (--metrics), and what --to and --bind refuse.

#include <cstdint>
#include <optional>
#include <string>

// A text split at its port: "[::1]:9101", "[::1]" (no port) or "host:9101".
struct HostAndPort {
    std::string host;  // without brackets
    std::string port;  // as written; empty when none is
};

// The host and the port of `text`, or nullopt when it has no port form: a host name or an
// IPv4 address alone, an IPv6 address without brackets, or a bracket that does not close
// before a ':'.
std::optional<HostAndPort> SplitHostAndPort(const std::string& text);

struct MetricsAddress {
    std::string host;  // without brackets: "127.0.0.1", "::1", "localhost"
    uint16_t port = 0;

    std::string Text() const;  // as the user writes it: "127.0.0.1:9101", "[::1]:9101"
};

// The address of "HOST:PORT" or "[IPV6]:PORT", or nullopt with the reason in `error`.
std::optional<MetricsAddress> ParseMetricsAddress(const std::string& text, std::string& error);
