#pragma once
// Starts veltrane-test-relay as a child process, for the end-to-end tests of the far end.

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "child_process_posix.h"

// One relay from a port of its own choice on 127.0.0.1 to 127.0.0.1:toPort.
class RelayProcess {
  public:
    RelayProcess(uint16_t toPort, const std::vector<std::string>& options) : process_(Arguments(toPort, options)) {
        if (process_.Started() && process_.WaitForOutput("}\n", std::chrono::milliseconds(10000))) {
            port_ = nlohmann::json::parse(process_.out.substr(0, process_.out.find('\n')))["listening"];
        }
    }

    // The port it listens on; 0 when it did not start.
    uint16_t Port() const { return port_; }

    // Stops it and returns what it did: received, forwarded, dropped, unsent, sendFailures and
    // injected {each kind, total}; null when it did not end cleanly.
    nlohmann::json Finish() {
        process_.Signal(SIGTERM);
        if (process_.WaitForExit(std::chrono::milliseconds(10000)) != 0) {
            return nullptr;
        }
        return LastJsonLine(process_.out);
    }

    const std::string& Errors() const { return process_.err; }

  private:
    static std::vector<std::string> Arguments(uint16_t toPort, const std::vector<std::string>& options) {
        std::vector<std::string> arguments{VELTRANE_TEST_RELAY, "--to-port", std::to_string(toPort), "--duration",
                                           "600"};
        arguments.insert(arguments.end(), options.begin(), options.end());
        return arguments;
    }

    ChildProcess process_;
    uint16_t port_ = 0;
};
