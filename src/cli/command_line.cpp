#include "cli/command_line.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <functional>

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

// Every option is taken as text: CLI11's own number conversion also accepts octal ("010"
// is 8), hexadecimal and negative numbers wrapped into unsigned ones, and a port or a count
// must never run with a value other than the one the user wrote.
struct RawOptions {
    std::string bind, to, port, sourcePort, period, count, size, buffer, duration, interval;
    bool json = false;
};

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

// An empty host would otherwise read as "not given" and quietly run with the default.
CLI::Validator HostText() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            return text.empty() ? "an empty text is not a host name or address" : std::string();
        },
        "");
}

void AddNumber(CLI::App& command,
               const char* name,
               std::string& target,
               const char* typeName,
               const char* description,
               uint64_t min,
               uint64_t max) {
    command.add_option(name, target, description)->type_name(typeName)->check(WholeNumberIn(min, max));
}

void AddPortAndSize(CLI::App& command, RawOptions& raw, const char* portDescription) {
    AddNumber(command, "--port", raw.port, "PORT", portDescription, 1, kMaxPort);
    AddNumber(command, "--size", raw.size, "BYTES",
              "packet size in bytes (default 192; below 32 means 32); a receiver accepts datagrams up to this size", 0,
              kMaxPacketSize);
}

void AddReceiveOptions(CLI::App& command, RawOptions& raw) {
    command.add_option("--bind", raw.bind, "local address or host name to receive on (default: every interface)")
        ->type_name("ADDR")
        ->check(HostText());
}

void AddSendOptions(CLI::App& command, RawOptions& raw) {
    command.add_option("--to", raw.to, "destination address or host name (default 127.0.0.1)")
        ->type_name("HOST")
        ->check(HostText());
    AddNumber(command, "--source-port", raw.sourcePort, "PORT",
              "local port to send from (default 13013; 0 lets the system pick one)", 0, kMaxPort);
    AddNumber(command, "--period", raw.period, "MS", "pause after each group of packets in ms (default 10)", 0, kMaxMs);
    AddNumber(command, "--count", raw.count, "N", "packets per period (default 100)", 0, kMaxCount);
    AddNumber(command, "--buffer", raw.buffer, "KB", "send buffer size in KB (default: the system's)", 0, kMaxBufferKB);
}

void AddCommonOptions(CLI::App& command, RawOptions& raw) {
    command.add_option("--duration", raw.duration, "stop after this many seconds (default: run until interrupted)")
        ->type_name("SECONDS")
        ->check(PositiveSeconds());
    AddNumber(command, "--interval", raw.interval, "MS", "time between reports in ms (default 1000)", 1, kMaxMs);
    command.add_flag("--json", raw.json, "print one JSON object per report (JSON Lines) instead of the texts");
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
        options.bindHost = raw.bind;
    }
    if (!raw.to.empty()) {
        options.toHost = raw.to;
    }
    SetNumber(raw.port, options.port);
    SetNumber(raw.sourcePort, options.sourcePort);
    SetNumber(raw.period, options.periodMs);
    SetNumber(raw.count, options.packetsPerPeriod);
    SetNumber(raw.size, options.packetSize);
    SetNumber(raw.buffer, options.bufferSizeKB);
    if (!raw.duration.empty()) {
        options.durationSeconds = *Seconds(raw.duration);
    }
    SetNumber(raw.interval, options.intervalMs);
    options.json = raw.json;
    return options;
}

}  // namespace

std::string ShortUsage() {
    return "usage: veltrane-cli receive [--bind ADDR] [--port 13014] [--size 192]\n"
           "       veltrane-cli send [--to HOST] [--port 13014] [--source-port 13013] [--period 10] [--count 100]\n"
           "                         [--size 192] [--buffer KB]\n"
           "       veltrane-cli loopback [the options of send and receive]\n"
           "  each also takes [--duration SECONDS] [--interval 1000] [--json]\n"
           "'veltrane-cli COMMAND --help' describes the options.\n";
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

    AddReceiveOptions(*receive, raw);
    AddPortAndSize(*receive, raw, "port to receive on (default 13014)");
    AddSendOptions(*send, raw);
    AddPortAndSize(*send, raw, "destination port (default 13014)");
    AddReceiveOptions(*loopback, raw);
    AddSendOptions(*loopback, raw);
    AddPortAndSize(*loopback, raw, "port to send to and receive on (default 13014)");
    for (CLI::App* command : {receive, send, loopback}) {
        AddCommonOptions(*command, raw);
    }

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
        result.exitCode = kExitUsage;
        result.error = "veltrane-cli: " + std::string(e.what()) + "\n" + ShortUsage();
        return result;
    }
    const RunMode mode = app.got_subcommand(receive) ? RunMode::Receive
                         : app.got_subcommand(send)  ? RunMode::Send
                                                     : RunMode::Loopback;
    result.options = ToOptions(raw, mode);
    return result;
}
