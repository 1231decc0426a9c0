#pragma once
// The command line of veltrane-cli: which end to run and its settings, parsed and checked.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "cli/call_judgement.h"
#include "cli/metric_labels.h"
#include "cli/metrics_address.h"
#include "cli/packet_key.h"
#include "measure/default_settings.h"
#include "sessions/session_table.h"

enum class RunMode { Receive, Send, Loopback, Reflect };

// How the sender spaces its groups: each at start + k * period (as a voice stream does), or
// a pause of one period after each group (as the dialog does).
enum class Pace { Fixed, Pause };

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitError = 1;
inline constexpr int kExitUsage = 2;

// The settings of one run: the dialog's defaults, less those of the far end's own
// (DefaultSettings::FarEnd); a sending run's load is set by ParseCommandLine.
struct CliOptions {
    RunMode mode = RunMode::Loopback;
    std::optional<std::string> bindHost;    // none: every local interface (IPv4 and IPv6)
    std::optional<std::string> sourceHost;  // send's --bind: the local address to send from
    std::string toHost = DefaultSettings::kDestinationHost;
    uint16_t port = DefaultSettings::kDestinationPort;           // also the receiver's
    uint16_t sourcePort = DefaultSettings::FarEnd::kSourcePort;  // the sender's local port; 0 lets the system pick one
    uint32_t periodMs = DefaultSettings::kPeriodMs;
    int32_t packetsPerPeriod = DefaultSettings::FarEnd::kCalls;
    uint32_t packetSize = DefaultSettings::kPacketSize;
    uint32_t bufferSizeKB = DefaultSettings::kSenderBufferSizeKB;  // 0 keeps the system's send buffer
    std::optional<double> durationSeconds;                         // none: until interrupted
    uint32_t intervalMs = DefaultSettings::FarEnd::kReportIntervalMs;
    bool json = false;
    bool quiet = false;                    // no reports at all; errors still go to stderr
    int dscp = -1;                         // DSCP to mark sent packets with; -1: unmarked
    std::optional<std::string> codecName;  // the --codec that set the size and the period
    uint32_t codecPayloadBytes = 0;        // its payload, before the raise to the header size
    Pace pace = Pace::Fixed;
    // A load of calls (--codec, --calls): with the fixed pace each call sends on its own clock,
    // spread over the period, rather than all calls' packets back to back.
    bool spreadCalls = false;
    std::optional<std::string> outputPath;  // reports appended to this file instead of stdout
    // The far end's sessions, one per sender, and what the reports show of them.
    double sessionTimeoutSeconds = DefaultSettings::FarEnd::kSessionTimeoutSeconds;
    int maxSessions = DefaultSettings::FarEnd::kMaxSessions;
    uint32_t receiveBufferBytes = DefaultSettings::FarEnd::kReceiveBufferBytes;  // asked of the system
    bool histogram = false;                  // JSON: each session's 400-bin jitter histogram
    bool dialogText = false;                 // text: the dialog's receiver text of each session, as it shows it
    std::optional<MetricsAddress> metrics;   // serve the sessions to Prometheus scrapers there
    std::vector<MetricLabel> metricLabels;   // added to every metric
    std::optional<CallJudgement> judgement;  // the codec whose calls the receiver judges, and the delay
    // Keyed test packets: the sender signs each one, the receiver takes only those it signed.
    std::optional<PacketKey> key;
    // send --round-trip: the echoes of a reflector come back to the sending socket and are analysed.
    bool roundTrip = false;
    std::string senderName;  // written into every test packet sent; empty: none

    bool Sends() const { return mode == RunMode::Send || mode == RunMode::Loopback; }
    bool Receives() const { return mode == RunMode::Receive || mode == RunMode::Loopback; }
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
