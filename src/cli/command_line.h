#pragma once
// The command line of veltrane-cli: which end to run and its settings, parsed and checked.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/metric_labels.h"
#include "cli/metrics_address.h"
#include "measure/default_settings.h"
#include "sessions/session_table.h"

enum class RunMode { Receive, Send, Loopback };

// How the sender spaces its groups: each at start + k * period (as a voice stream does), or
// a pause of one period after each group (as the dialog does).
enum class Pace { Fixed, Pause };

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitError = 1;
inline constexpr int kExitUsage = 2;

// A far end's socket holds this much (a flood of 180,000 datagrams/s for some 100 ms) before
// the host drops any.
inline constexpr uint32_t kDefaultReceiveBufferBytes = 4 << 20;

// The settings of one run; the defaults are those of the dialog.
struct CliOptions {
    RunMode mode = RunMode::Loopback;
    std::optional<std::string> bindHost;    // none: every local interface (IPv4 and IPv6)
    std::optional<std::string> sourceHost;  // send's --bind: the local address to send from
    std::string toHost = DefaultSettings::kDestinationHost;
    uint16_t port = DefaultSettings::kDestinationPort;   // also the receiver's
    uint16_t sourcePort = DefaultSettings::kSourcePort;  // the sender's local port; 0 lets the system pick one
    uint32_t periodMs = DefaultSettings::kPeriodMs;
    int32_t packetsPerPeriod = DefaultSettings::kPacketsPerPeriod;
    uint32_t packetSize = DefaultSettings::kPacketSize;
    uint32_t bufferSizeKB = DefaultSettings::kSenderBufferSizeKB;  // 0 keeps the system's send buffer
    std::optional<double> durationSeconds;                         // none: until interrupted
    uint32_t intervalMs = 1000;
    bool json = false;
    int dscp = -1;                         // DSCP to mark sent packets with; -1: unmarked
    std::optional<std::string> codecName;  // the --codec that set the size and the period
    uint32_t codecPayloadBytes = 0;        // its payload, before the raise to the header size
    Pace pace = Pace::Fixed;
    std::optional<std::string> outputPath;  // reports appended to this file instead of stdout
    // The far end's sessions, one per sender, and what the reports show of them.
    double sessionTimeoutSeconds = kDefaultSessionTimeoutSeconds;
    int maxSessions = kDefaultMaxSessions;
    uint32_t receiveBufferBytes = kDefaultReceiveBufferBytes;  // asked of the system for the socket
    bool histogram = false;                                    // JSON: each session's 400-bin jitter histogram
    bool dialogText = false;                // text: the dialog's receiver text of each session, as it shows it
    std::optional<MetricsAddress> metrics;  // serve the sessions to Prometheus scrapers there
    std::vector<MetricLabel> metricLabels;  // added to every metric

    bool Sends() const { return mode != RunMode::Receive; }
    bool Receives() const { return mode != RunMode::Send; }
};

// What the command line asks for: a run, or an exit with a text.
struct ParsedCommandLine {
    std::optional<CliOptions> options;  // set when a run is due
    int exitCode = kExitSuccess;        // without a run: 0 after --help, kExitUsage on bad usage
    std::string output;                 // for stdout (help)
    std::string error;                  // for stderr (what is wrong, then the short usage)
};

ParsedCommandLine ParseCommandLine(int argc, const char* const* argv);

// The short usage text printed after a usage error.
std::string ShortUsage();
