#pragma once
// Helpers for veltrane-cli's tests: command lines as argument vectors and free UDP ports.

#include <cstdint>
#include <string>
#include <vector>

#include "base/socket_library.h"
#include "base/udp_socket.h"
#include "cli/command_line.h"

// Parses "veltrane-cli" followed by `arguments`.
inline ParsedCommandLine Parse(const std::vector<const char*>& arguments) {
    std::vector<const char*> argv{"veltrane-cli"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return ParseCommandLine(static_cast<int>(argv.size()), argv.data());
}

// A UDP port that was free on every interface a moment ago (the system picked it), so that
// tests running side by side do not meet on one port.
inline uint16_t FreeUdpPort() {
    SocketLibrary library;
    UdpSocket socket = UdpSocket::Open(Endpoint());
    if (!socket.Bind(Endpoint::Ipv4(0, 0))) {
        return 0;
    }
    const auto bound = socket.LocalEndpoint();
    return bound ? bound->Port() : 0;
}
