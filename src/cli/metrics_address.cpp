#include "cli/metrics_address.h"

#include <algorithm>

namespace {

std::optional<uint16_t> PortOf(const std::string& text) {
    if (text.empty() || text.size() > 5 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return std::nullopt;
    }
    const long value = std::stol(text);
    return value >= 1 && value <= 65535 ? std::optional<uint16_t>(static_cast<uint16_t>(value)) : std::nullopt;
}

}  // namespace

std::optional<HostAndPort> SplitHostAndPort(const std::string& text) {
    if (!text.empty() && text.front() == '[') {
        const size_t close = text.find(']');
        if (close == std::string::npos || (close + 1 < text.size() && text[close + 1] != ':')) {
            return std::nullopt;
        }
        return HostAndPort{text.substr(1, close - 1), close + 1 < text.size() ? text.substr(close + 2) : ""};
    }
    const size_t colon = text.find(':');
    if (colon == std::string::npos || text.find(':', colon + 1) != std::string::npos) {
        return std::nullopt;
    }
    return HostAndPort{text.substr(0, colon), text.substr(colon + 1)};
}

std::string MetricsAddress::Text() const {
    return (host.find(':') == std::string::npos ? host : "[" + host + "]") + ":" + std::to_string(port);
}

std::optional<MetricsAddress> ParseMetricsAddress(const std::string& text, std::string& error) {
    const std::string expected = "expected ADDR:PORT, such as 127.0.0.1:9101, 0.0.0.0:9101 or [::1]:9101";
    const std::optional<HostAndPort> split = SplitHostAndPort(text);
    if (!split && text.find(':') != std::string::npos && text.front() != '[') {
        error = "--metrics '" + text + "': write an IPv6 address in brackets, such as [::1]:9101";
        return std::nullopt;
    }
    if (!split || split->port.empty()) {
        error = "--metrics '" + text + "': the port is missing; " + expected;
        return std::nullopt;
    }
    const std::string& host = split->host;
    const std::string& port = split->port;
    if (host.empty() || host.find_first_of("[] ") != std::string::npos) {
        error = "--metrics '" + text + "': the address is missing or malformed; " + expected;
        return std::nullopt;
    }
    const std::optional<uint16_t> number = PortOf(port);
    if (!number) {
        error = "--metrics '" + text + "': '" + port + "' is not a port from 1 to 65535";
        return std::nullopt;
    }
    return MetricsAddress{host, *number};
}
