#pragma once
// Helpers for veltrane-cli's tests: command lines as argument vectors and free UDP ports.

#include <cstdint>
#include <string>
#include <vector>

#include "base/socket_library.h"
#include "base/udp_socket.h"
#include "cli/command_line.h"
#include "measure_test_support.h"

// Parses "veltrane-cli" followed by `arguments`.
inline ParsedCommandLine Parse(const std::vector<const char*>& arguments) {
    std::vector<const char*> argv{"veltrane-cli"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return ParseCommandLine(static_cast<int>(argv.size()), argv.data());
}
