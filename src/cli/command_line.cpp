#include "cli/command_line.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <functional>

#include "cli/dscp.h"
#include "cli/packet_tag.h"
#include "cli/voice_load.h"
#include "measure/default_settings.h"
#include "measure/packet_blocks.h"
#include "measure/sender_name_block.h"
#include "measure/test_packet.h"
#include "veltrane_version.h"

namespace {

constexpr uint64_t kMaxPort = 65535;
// A UDP datagram cannot be longer; a larger receive buffer would only waste memory.
constexpr uint64_t kMaxPacketSize = 65535;
constexpr uint64_t kMaxCount = 2147483647;  // packets per period are a signed 32-bit count
// The socket takes the buffer size in bytes as a signed 32-bit int: KB * 1024 must fit.
constexpr uint64_t kMaxBufferKB = 2147483647 / 1024;
constexpr uint64_t kMaxMs = 4294967295;
constexpr double kMaxSeconds = 1e9;
// Each session holds its own windows and histograms: the bound keeps a flood of spoofed
// sources from taking the host's memory even when the user raises it.
constexpr uint64_t kMaxSessions = 16384;

// Every option is taken as text: CLI11's own number conversion also accepts octal ("010"
// is 8), hexadecimal and negative numbers wrapped into unsigned ones, and a port or a count
// must never run with a value other than the one the user wrote.
struct RawOptions {
    std::string bind, to, port, sourcePort, period, count, size, buffer, duration, interval;
    std::string dscp, codec, calls, pace, output, helpCommand;
    bool json = false, quiet = false;
    std::string sessionTimeout, maxSessions, receiveBuffer;
    bool histogram = false, dialogText = false;
    std::string metrics;
    std::vector<std::string> labels;
    std::string judgedCodec, oneWayDelay;  // receive's --codec, and --one-way-delay
    std::string key;
    bool roundTrip = false;
    std::string name;  // send's --name
};

const char* const kCommands[] = {"receive", "send", "loopback", "reflect", "help"};

// A default setting as the help texts show it.
std::string Text(uint64_t value) {
    return std::to_string(value);
}

bool IsDigits(const std::string& text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A decimal whole number, digits only; nullopt when it is not one or does not fit.
std::optional<uint64_t> WholeNumber(const std::string& text) {
    uint64_t value = 0;
    if (!IsDigits(text)) {
        return std::nullopt;
    }
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size()) {
        return std::nullopt;
    }
    return value;
}

// Seconds as digits with an optional decimal fraction ("3", "0.5").
std::optional<double> Seconds(const std::string& text) {
    const size_t point = text.find('.');
    const std::string whole = text.substr(0, point);
    const std::string fraction = point == std::string::npos ? "0" : text.substr(point + 1);
    if (!IsDigits(whole) || !IsDigits(fraction)) {
        return std::nullopt;
    }
    return std::strtod(text.c_str(), nullptr);
}

std::string Range(uint64_t min, uint64_t max) {
    return "expected a whole number from " + std::to_string(min) + " to " + std::to_string(max);
}

CLI::Validator WholeNumberIn(uint64_t min, uint64_t max) {
    return CLI::Validator(
        [min, max](std::string& text) -> std::string {
            if (text.size() > 1 && text[0] == '-' && (IsDigits(text.substr(1)) || Seconds(text.substr(1)))) {
                return text + " is negative; " + Range(min, max);
            }
            if (!IsDigits(text)) {
                return "'" + text + "' is not a whole number; " + Range(min, max);
            }
            const std::optional<uint64_t> value = WholeNumber(text);
            if (!value || *value < min || *value > max) {
                return text + " is out of range; " + Range(min, max);
            }
            return {};
        },
        "");
}

CLI::Validator PositiveSeconds() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            const std::string expected = "expected seconds above 0, such as 10 or 0.5";
            if (text.size() > 1 && text[0] == '-' && Seconds(text.substr(1))) {
                return text + " is negative; " + expected;
            }
            const std::optional<double> seconds = Seconds(text);
            if (!seconds) {
                return "'" + text + "' is not a number of seconds; " + expected;
            }
            if (*seconds <= 0 || *seconds > kMaxSeconds) {
                return text + " is out of range; " + expected + " (at most 1000000000)";
            }
            return {};
        },
        "");
}

// An empty host would otherwise read as "not given" and quietly run with the default; a
// port written into the host would fail to resolve with a puzzling reason.
CLI::Validator HostText(const std::string& option) {
    return CLI::Validator(
        [option](std::string& text) -> std::string {
            if (text.empty()) {
                return "an empty text is not a host name or address";
            }
            if (const std::optional<HostAndPort> split = SplitHostAndPort(text)) {
                const std::string port = split->port.empty() ? Text(DefaultSettings::kDestinationPort) : split->port;
                return "'" + text + "' holds a port; give the address and the port apart: " + option + " " +
                       split->host + " --port " + port;
            }
            return {};
        },
        "");
}

CLI::Validator Dscp() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            return ParseDscp(text) ? std::string()
                                   : "'" + text +
                                         "' is not a DSCP value; expected EF, AF11 to AF43, CS0 to CS7 or "
                                         "a number from 0 to 63";
        },
        "");
}

CLI::Validator Codec() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            return FindVoiceCodec(text) ? std::string()
                                        : "'" + text + "' is not a codec of this list: " + VoiceCodecNames();
        },
        "");
}

CLI::Validator PaceName() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            return text == "fixed" || text == "pause" ? std::string() : "'" + text + "' is neither fixed nor pause";
        },
        "");
}

void AddNumber(CLI::App& command,
               const char* name,
               std::string& target,
               const char* typeName,
               const std::string& description,
               uint64_t min,
               uint64_t max) {
    command.add_option(name, target, description)->type_name(typeName)->check(WholeNumberIn(min, max));
}

// The load a sender runs with when no option sets it: one call of the far end's codec.
VoiceCodec DefaultVoiceCodec() {
    return *FindVoiceCodec(DefaultSettings::FarEnd::kVoiceCodec);
}

void AddPortAndSize(CLI::App& command, RawOptions& raw, const std::string& portDescription, uint32_t defaultSize) {
    AddNumber(command, "--port", raw.port, "PORT", portDescription, 1, kMaxPort);
    AddNumber(command, "--size", raw.size, "BYTES",
              "packet size in bytes (default " + Text(defaultSize) +
                  "; below 32 means 32); a receiver accepts datagrams up to this size",
              0, kMaxPacketSize);
}

void AddBind(CLI::App& command, RawOptions& raw, const char* description) {
    command.add_option("--bind", raw.bind, description)->type_name("ADDR")->check(HostText("--bind"));
}

CLI::Validator SenderName() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            if (IsValidSenderName(text)) {
                return {};
            }
            return "'" + text + "' is not a sender name; expected 1 to " + Text(kMaxSenderNameBytes) +
                   " printable ASCII characters (space to ~)";
        },
        "");
}

void AddSendOptions(CLI::App& command, RawOptions& raw) {
    command.add_option("--name", raw.name, "name this sender in the far end's reports (1 to 32 printable characters)")
        ->type_name("NAME")
        ->check(SenderName());
    command
        .add_option("--to", raw.to,
                    "destination address or host name (default " + std::string(DefaultSettings::kDestinationHost) + ")")
        ->type_name("HOST")
        ->check(HostText("--to"));
    AddNumber(command, "--source-port", raw.sourcePort, "PORT",
              "local port to send from (default 0: the system picks a free one)", 0, kMaxPort);
    AddNumber(command, "--period", raw.period, "MS",
              "time from one group of packets to the next in ms (default " + Text(DefaultVoiceCodec().periodMs) + ")",
              0, kMaxMs);
    AddNumber(command, "--count", raw.count, "N",
              "packets per period (default " + Text(DefaultSettings::FarEnd::kCalls) + ")", 0, kMaxCount);
    AddNumber(command, "--buffer", raw.buffer, "KB", "send buffer size in KB (default: the system's)", 0, kMaxBufferKB);
    command
        .add_option("--pace", raw.pace,
                    "fixed: group k leaves at start + k * period, as a voice stream does (default); pause: a "
                    "pause of one period after each group, as the dialog program does")
        ->type_name("fixed|pause")
        ->check(PaceName());
    command
        .add_option("--codec", raw.codec,
                    "set size and period to a voice codec's RTP packets (default " +
                        std::string(DefaultSettings::FarEnd::kVoiceCodec) +
                        " unless --size or --period is given): " + VoiceCodecNames())
        ->type_name("CODEC")
        ->check(Codec());
    AddNumber(command, "--calls", raw.calls, "N",
              "concurrent calls: packets per period (instead of --count; default " +
                  Text(DefaultSettings::FarEnd::kCalls) + ")",
              1, kMaxCount);
    command.add_option("--dscp", raw.dscp, "mark the packets: EF, AF11..AF43, CS0..CS7 or 0..63 (default: unmarked)")
        ->type_name("DSCP")
        ->check(Dscp());
}

CLI::Validator FileName() {
    return CLI::Validator(
        [](std::string& text) { return text.empty() ? std::string("an empty text is not a file name") : ""; }, "");
}

void AddKeyOption(CLI::App& command, RawOptions& raw, const std::string& description) {
    command.add_option("--key", raw.key, description + " (32 bytes, readable by its owner only)")
        ->type_name("FILE")
        ->check(FileName());
}

void AddCommonOptions(CLI::App& command, RawOptions& raw) {
    command.add_option("--duration", raw.duration, "stop after this many seconds (default: run until interrupted)")
        ->type_name("SECONDS")
        ->check(PositiveSeconds());
    AddNumber(command, "--interval", raw.interval, "MS",
              "time between reports in ms (default " + Text(DefaultSettings::FarEnd::kReportIntervalMs) + ")", 1,
              kMaxMs);
    command.add_flag("--json", raw.json, "print one JSON object per report (JSON Lines) instead of the texts");
    command.add_flag("--quiet", raw.quiet, "print no reports (errors still go to standard error)");
    command.add_option("--output", raw.output, "append the reports to FILE instead of printing them")
        ->type_name("FILE")
        ->check(FileName());
}

// The bounds of what a receiving command follows per source (a receiver's sessions, a
// reflector's counts), each told in the command's own words, and its socket's buffer.
void AddSourceBounds(CLI::App& command, RawOptions& raw, const char* timeoutMeaning, const char* boundMeaning) {
    command
        .add_option("--session-timeout", raw.sessionTimeout,
                    std::string(timeoutMeaning) + " (default " +
                        Text(static_cast<uint64_t>(DefaultSettings::FarEnd::kSessionTimeoutSeconds)) + ")")
        ->type_name("SECONDS")
        ->check(PositiveSeconds());
    AddNumber(command, "--max-sessions", raw.maxSessions, "N",
              std::string(boundMeaning) + " (default " + Text(DefaultSettings::FarEnd::kMaxSessions) + ")", 1,
              kMaxSessions);
    AddNumber(command, "--rcvbuf", raw.receiveBuffer, "BYTES",
              "the socket's receive buffer to ask for (default " + Text(DefaultSettings::FarEnd::kReceiveBufferBytes) +
                  "); the report tells what the system granted",
              1, INT32_MAX);
}

// The receiving commands' sessions (one per sender) and how their reports show them.
void AddSessionOptions(CLI::App& command, RawOptions& raw) {
    AddSourceBounds(command, raw, "a sender quiet this long ends its session",
                    "senders followed at once; the one quiet longest makes room for a new one");
    command.add_flag("--histogram", raw.histogram, "with --json: each session's 400-bin jitter histogram");
    command.add_flag("--dialog-text", raw.dialogText,
                     "print the dialog program's receiver text for each session instead of the readable report");
}

// The largest one-way delay taken: beyond, the delay alone makes every call unusable.
constexpr double kMaxOneWayDelayMs = 60000;

CLI::Validator DelayMs() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            const std::optional<double> ms = Seconds(text);  // the same digits, in ms
            if (!ms || *ms > kMaxOneWayDelayMs) {
                return "'" + text + "' is not a delay; expected milliseconds from 0 to 60000, such as 35 or 12.5";
            }
            return {};
        },
        "");
}

// The receiving commands' verdict on calls: loopback judges the codec it sends, receive the
// one it is told (the sender's is not on the wire).
void AddCallQualityOptions(CLI::App& command, RawOptions& raw, bool receiveOnly) {
    if (receiveOnly) {
        command
            .add_option(
                "--codec", raw.judgedCodec,
                "judge calls of this codec over each sender's path (MOS, R, jitter buffer): " + VoiceCodecNames())
            ->type_name("CODEC")
            ->check(Codec());
    }
    command
        .add_option("--one-way-delay", raw.oneWayDelay,
                    "the path's one-way delay in ms, for the call verdict's delay term (the jitter buffer and one "
                    "packet interval are added)")
        ->type_name("MS")
        ->check(DelayMs());
}

// The metrics endpoint of a receiving run: its address and the labels of every metric.
void AddMetricsOptions(CLI::App& command, RawOptions& raw) {
    command
        .add_option("--metrics", raw.metrics,
                    "serve the figures to Prometheus at http://ADDR:PORT/metrics: a receiver's sessions, or a "
                    "sender's counters and load")
        ->type_name("ADDR:PORT");
    command.add_option("--label", raw.labels, "add a label to every metric (repeatable), such as site=branch-12")
        ->type_name("NAME=VALUE")
        ->allow_extra_args(false);
}

// Sets the metrics options; the usage error, if any.
std::string TakeMetricsOptions(const RawOptions& raw, CliOptions& options) {
    std::string error;
    if (!raw.labels.empty() && raw.metrics.empty()) {
        return "--label labels the metrics: give --metrics ADDR:PORT too";
    }
    if (raw.metrics.empty()) {
        return {};
    }
#ifdef _WIN32
    return "--metrics: the Windows console program serves no metrics; run the far end on Linux for that";
#endif
    options.metrics = ParseMetricsAddress(raw.metrics, error);
    const std::optional<std::vector<MetricLabel>> labels = ParseMetricLabels(raw.labels, error);
    if (options.metrics && labels) {
        options.metricLabels = *labels;
    }
    return error;
}

// Reads the key file of --key; the usage error, if any.
std::string TakeKeyOption(const RawOptions& raw, CliOptions& options) {
    if (raw.key.empty()) {
        return {};
    }
#ifdef _WIN32
    return "--key: the Windows console program neither signs nor checks test packets; run this end on Linux for "
           "keyed packets";
#else
    if (EffectivePacketSize(options.packetSize) < kKeyedPacketMinSize) {
        return "--key: a keyed packet carries a 16-byte tag after its 32-byte header; packets of " +
               std::to_string(EffectivePacketSize(options.packetSize)) + " bytes leave no room for it (48 or more)";
    }
    std::string error;
    options.key = ReadPacketKey(raw.key, error);
    return error;
#endif
}

// A round trip needs room for the reflector's stamps; the usage error, if any.
std::string TakeRoundTripOption(const RawOptions& raw, CliOptions& options) {
    options.roundTrip = raw.roundTrip;
    // The stamps follow the sender's own blocks.
    const uint32_t needed =
        raw.name.empty() ? kStampedPacketMinSize : SenderNamePacketMinSize(raw.name) + kStampedPacketMinSize - 48;
    if (raw.roundTrip && EffectivePacketSize(options.packetSize) < needed) {
        return "--round-trip: the reflector writes its stamps after byte 48 of each packet and the sender's "
               "blocks; packets of " +
               std::to_string(EffectivePacketSize(options.packetSize)) + " bytes leave no room for them (" +
               std::to_string(needed) + " or more)";
    }
    return {};
}

// Checks that the packets have room for --name's block; the usage error, if any.
std::string TakeNameOption(const RawOptions& raw, CliOptions& options) {
    if (raw.name.empty()) {
        return {};
    }
    const uint32_t needed = SenderNamePacketMinSize(raw.name);
    const uint32_t size = EffectivePacketSize(options.packetSize);
    if (size < needed) {
        return "--name: the name travels in the packet's filler from byte 48 on, with 5 bytes of its own; packets "
               "of " +
               std::to_string(size) + " bytes leave no room for '" + raw.name + "' (" + std::to_string(needed) +
               " or more)";
    }
    options.senderName = raw.name;
    return {};
}

// The validators have accepted every number given, so the conversions cannot fail here.
template <typename T>
void SetNumber(const std::string& text, T& target) {
    if (!text.empty()) {
        target = static_cast<T>(*WholeNumber(text));
    }
}

CliOptions ToOptions(const RawOptions& raw, RunMode mode) {
    CliOptions options;
    options.mode = mode;
    if (!raw.bind.empty()) {
        (mode == RunMode::Send ? options.sourceHost : options.bindHost) = raw.bind;
    }
    if (!raw.to.empty()) {
        options.toHost = raw.to;
    }
    SetNumber(raw.port, options.port);
    if (options.Sends()) {
        // The default call; a size or a period given alone keeps the other one of it.
        const VoiceCodec call = DefaultVoiceCodec();
        options.packetSize = options.codecPayloadBytes = call.payloadBytes;
        options.periodMs = call.periodMs;
        if (raw.codec.empty() && raw.size.empty() && raw.period.empty()) {
            options.codecName = call.name;
        }
    }
    SetNumber(raw.sourcePort, options.sourcePort);
    SetNumber(raw.period, options.periodMs);
    SetNumber(raw.count, options.packetsPerPeriod);
    if (mode == RunMode::Reflect) {
        options.packetSize = static_cast<uint32_t>(kMaxPacketSize);  // answers any test packet a datagram holds
    }
    SetNumber(raw.size, options.packetSize);
    SetNumber(raw.buffer, options.bufferSizeKB);
    if (!raw.duration.empty()) {
        options.durationSeconds = *Seconds(raw.duration);
    }
    SetNumber(raw.interval, options.intervalMs);
    options.json = raw.json;
    options.quiet = raw.quiet;
    if (const std::optional<VoiceCodec> codec = FindVoiceCodec(raw.codec)) {
        options.codecName = codec->name;
        options.codecPayloadBytes = codec->payloadBytes;
        options.packetSize = codec->payloadBytes;
        options.periodMs = codec->periodMs;
    }
    SetNumber(raw.calls, options.packetsPerPeriod);
    options.spreadCalls = !raw.codec.empty() || !raw.calls.empty();
    if (!raw.dscp.empty()) {
        options.dscp = *ParseDscp(raw.dscp);
    }
    options.pace = raw.pace == "pause" ? Pace::Pause : Pace::Fixed;
    if (!raw.output.empty()) {
        options.outputPath = raw.output;
    }
    if (!raw.sessionTimeout.empty()) {
        options.sessionTimeoutSeconds = *Seconds(raw.sessionTimeout);
    }
    SetNumber(raw.maxSessions, options.maxSessions);
    SetNumber(raw.receiveBuffer, options.receiveBufferBytes);
    options.histogram = raw.histogram;
    options.dialogText = raw.dialogText;
    const std::optional<VoiceCodec> judged = FindVoiceCodec(mode == RunMode::Receive ? raw.judgedCodec : raw.codec);
    if (judged && mode != RunMode::Send) {
        options.judgement = CallJudgement{*judged, Seconds(raw.oneWayDelay)};
    }
    return options;
}

// Options that each make sense alone but contradict each other; empty when none do.
std::string ConflictOf(const RawOptions& raw) {
    if (!raw.codec.empty() && (!raw.size.empty() || !raw.period.empty())) {
        return "--codec sets the packet size and the period; leave out --size and --period, or --codec";
    }
    if (!raw.calls.empty() && !raw.count.empty()) {
        return "--calls and --count both set the packets per period; give one of them";
    }
    if (!raw.oneWayDelay.empty() && raw.codec.empty() && raw.judgedCodec.empty()) {
        return "--one-way-delay is the delay of the calls --codec judges; give --codec too";
    }
    if (raw.histogram && !raw.json) {
        return "--histogram adds the histogram to the JSON lines; give --json too";
    }
    if (raw.quiet && !raw.output.empty()) {
        return "--quiet writes no reports and --output writes them to a file; give one of them";
    }
    if (raw.dialogText && raw.json) {
        return "--dialog-text is a text output and --json the other one; give one of them";
    }
#ifdef _WIN32
    if (!raw.dscp.empty()) {
        // Windows takes the socket option and sends the packets unmarked: a run would
        // measure a path other than the one asked for.
        return "--dscp: Windows does not mark the packets of a program; run the sender on Linux to mark them";
    }
#endif
    return {};
}

ParsedCommandLine UsageError(const std::string& what) {
    ParsedCommandLine result;
    result.exitCode = kExitUsage;
    result.error = "veltrane-cli: " + what + "\n" + ShortUsage();
    return result;
}

bool IsCommand(const std::string& word) {
    return std::find(std::begin(kCommands), std::end(kCommands), word) != std::end(kCommands);
}

}  // namespace

std::string ShortUsage() {
    using namespace DefaultSettings;
    const VoiceCodec call = DefaultVoiceCodec();
    return "usage: veltrane-cli receive [--bind ADDR] [--port " + Text(kReceiverPort) + "] [--size " +
           Text(kPacketSize) + "]\n" + "                         [--session-timeout " +
           Text(static_cast<uint64_t>(FarEnd::kSessionTimeoutSeconds)) + "] [--max-sessions " +
           Text(FarEnd::kMaxSessions) + "] [--histogram] [--dialog-text]\n" +
           "       veltrane-cli send [--to HOST] [--port " + Text(kDestinationPort) +
           "] [--bind ADDR] [--source-port " + Text(FarEnd::kSourcePort) + "] [--period " + Text(call.periodMs) +
           "]\n" + "                         [--count " + Text(FarEnd::kCalls) + "] [--size " +
           Text(call.payloadBytes) +
           "] [--buffer KB] [--pace fixed|pause]\n"
           "                         [--codec " +
           call.name + "] [--calls " + Text(FarEnd::kCalls) +
           "] [--dscp DSCP] [--name NAME] [--round-trip]\n"
           "       veltrane-cli loopback [the options of send and receive]\n"
           "       veltrane-cli reflect [--bind ADDR] [--port " +
           Text(kReceiverPort) +
           "] [--size 65535] [--session-timeout SECONDS] [--max-sessions N]\n"
           "       (each command also takes [--metrics ADDR:PORT] [--label NAME=VALUE]...)\n"
           "       veltrane-cli help [COMMAND]\n"
           "  each also takes [--duration SECONDS] [--interval " +
           Text(FarEnd::kReportIntervalMs) +
           "] [--json] [--quiet] [--output FILE]\n"
           "'veltrane-cli help COMMAND' describes the options.\n";
}

ParsedCommandLine ParseCommandLine(int argc, const char* const* argv) {
    RawOptions raw;
    CLI::App app(
        "Measures jitter, delay and loss of a UDP/IP path with Veltrane's test packets: run 'receive' on "
        "one end and 'send' on the other, or 'loopback' for a self-test in one process.",
        "veltrane-cli");
    app.require_subcommand(1);
    app.set_version_flag("--version", "veltrane-cli " VELTRANE_VERSION, "print the version and exit");
    CLI::App* receive = app.add_subcommand("receive", "receive test packets and report jitter, delay and loss");
    CLI::App* send = app.add_subcommand("send", "send groups of test packets and report the sender's figures");
    CLI::App* loopback = app.add_subcommand("loopback", "send to and receive from this host in one process");
    CLI::App* reflect =
        app.add_subcommand("reflect", "return each test packet to its sender with stamps, for send --round-trip");
    CLI::App* help = app.add_subcommand("help", "describe the commands, or the options of one");
    help->add_option("command", raw.helpCommand, "receive, send, loopback or reflect")->type_name("COMMAND");

    // A mistyped command would otherwise be reported as an unexpected argument.
    if (argc > 1 && argv[1][0] != '-' && !IsCommand(argv[1])) {
        return UsageError("unknown command '" + std::string(argv[1]) + "'");
    }

    AddBind(*receive, raw, "local address or host name to receive on (default: every interface, IPv4 and IPv6)");
    AddPortAndSize(*receive, raw, "port to receive on (default " + Text(DefaultSettings::kReceiverPort) + ")",
                   DefaultSettings::kPacketSize);
    AddSendOptions(*send, raw);
    AddBind(*send, raw, "local address to send from, on a host of several (default: the system's choice)");
    AddPortAndSize(*send, raw, "destination port (default " + Text(DefaultSettings::kDestinationPort) + ")",
                   DefaultVoiceCodec().payloadBytes);
    AddBind(*loopback, raw, "local address or host name to receive on (default: every interface, IPv4 and IPv6)");
    AddSendOptions(*loopback, raw);
    AddPortAndSize(*loopback, raw,
                   "port to send to and receive on (default " + Text(DefaultSettings::kDestinationPort) + ")",
                   DefaultVoiceCodec().payloadBytes);
    AddBind(*reflect, raw, "local address or host name to receive on (default: every interface, IPv4 and IPv6)");
    AddNumber(*reflect, "--port", raw.port, "PORT",
              "port to receive on (default " + Text(DefaultSettings::kReceiverPort) + ")", 1, kMaxPort);
    AddNumber(*reflect, "--size", raw.size, "BYTES",
              "the longest test packet answered, bytes (default " + Text(kMaxPacketSize) + ")", kStampedPacketMinSize,
              kMaxPacketSize);
    send->add_flag("--round-trip", raw.roundTrip,
                   "take the echoes of a 'veltrane-cli reflect' at the destination: round-trip time, loss each way, "
                   "delay variation each way and the call verdict");
    for (CLI::App* command : {receive, send, loopback, reflect}) {
        AddCommonOptions(*command, raw);
    }
    AddSessionOptions(*receive, raw);
    AddSessionOptions(*loopback, raw);
    AddSourceBounds(*reflect, raw, "a source quiet this long is forgotten and counted afresh",
                    "sources answered at once; a new one waits until one has been quiet for the time-out");
    for (CLI::App* command : {receive, send, loopback}) {
        AddMetricsOptions(*command, raw);
    }
    AddCallQualityOptions(*receive, raw, true);
    AddCallQualityOptions(*loopback, raw, false);
    AddKeyOption(*receive, raw, "take only test packets signed with the key in FILE");
    AddKeyOption(*send, raw, "sign every test packet with the key in FILE");
    AddKeyOption(*loopback, raw, "sign the test packets with the key in FILE and take only those signed with it");
    AddKeyOption(*reflect, raw, "answer only test packets signed with the key in FILE, and sign the answers");

    ParsedCommandLine result;
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForVersion& e) {
        result.output = e.what() + std::string("\n");
        return result;
    } catch (const CLI::Success&) {
        result.output = app.help();
        return result;
    } catch (const CLI::ParseError& e) {
        return UsageError(e.what());
    }
    if (app.got_subcommand(help)) {
        if (raw.helpCommand.empty()) {
            result.output = app.help();
        } else if (raw.helpCommand != "help" && IsCommand(raw.helpCommand)) {
            result.output = app.get_subcommand(raw.helpCommand)->help("veltrane-cli");
        } else {
            return UsageError("help: unknown command '" + raw.helpCommand + "'");
        }
        return result;
    }
    if (const std::string conflict = ConflictOf(raw); !conflict.empty()) {
        return UsageError(conflict);
    }
    const RunMode mode = app.got_subcommand(receive)   ? RunMode::Receive
                         : app.got_subcommand(send)    ? RunMode::Send
                         : app.got_subcommand(reflect) ? RunMode::Reflect
                                                       : RunMode::Loopback;
    result.options = ToOptions(raw, mode);
    if (const std::string error = TakeRoundTripOption(raw, *result.options); !error.empty()) {
        return UsageError(error);
    }
    if (const std::string error = TakeMetricsOptions(raw, *result.options); !error.empty()) {
        return UsageError(error);
    }
    if (const std::string error = TakeKeyOption(raw, *result.options); !error.empty()) {
        return UsageError(error);
    }
    if (const std::string error = TakeNameOption(raw, *result.options); !error.empty()) {
        return UsageError(error);
    }
    return result;
}
