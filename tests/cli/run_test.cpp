// Whole runs in this process: the engine's sender and receiver on the loop-back interface,
// periodic and final reports, the end by duration or stop request, and the dialog's error texts.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <future>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>
#include <vector>

#include "cli/measurement_run.h"
#include "cli_test_support.h"
#include "measure/test_packet.h"

namespace {

struct RunResult {
    int exitCode;
    std::string out;
    std::string err;
};

RunResult RunWith(const CliOptions& options,
                  const std::atomic<bool>& stopRequested,
                  const std::function<void()>& started = {}) {
    std::ostringstream out;
    std::ostringstream err;
    const int exitCode = RunMeasurement(options, stopRequested, out, err, started);
    return {exitCode, out.str(), err.str()};
}

RunResult RunFor(const CliOptions& options) {
    const std::atomic<bool> never{false};
    return RunWith(options, never);
}

std::vector<nlohmann::json> JsonLines(const std::string& text) {
    std::vector<nlohmann::json> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        lines.push_back(nlohmann::json::parse(line));
    }
    return lines;
}

// Senders send from a port of the system's choice unless a test names one: the default
// 13013 would be shared by every run on this machine.
CliOptions Options(RunMode mode, std::vector<const char*> arguments) {
    const char* command = mode == RunMode::Receive ? "receive" : mode == RunMode::Send ? "send" : "loopback";
    arguments.insert(arguments.begin(), command);
    const bool namesSourcePort = std::find_if(arguments.begin(), arguments.end(), [](const char* a) {
                                     return std::string(a) == "--source-port";
                                 }) != arguments.end();
    if (mode != RunMode::Receive && !namesSourcePort) {
        arguments.insert(arguments.end(), {"--source-port", "0"});
    }
    const ParsedCommandLine parsed = Parse(arguments);
    EXPECT_TRUE(parsed.options) << parsed.error;
    return parsed.options.value_or(CliOptions{});
}

// A socket that holds a port on every interface, as another program would.
struct HeldPort {
    HeldPort() { EXPECT_TRUE(socket.Bind(Endpoint::Ipv4(0, 0))); }
    uint16_t Port() const { return socket.LocalEndpoint()->Port(); }
    std::string PortText() const { return std::to_string(Port()); }
    SocketLibrary library;
    UdpSocket socket = UdpSocket::Open(Endpoint());
};

TEST(Run, LoopbackReportsOnTheIntervalAndEndsAfterItsDuration) {
    const std::string port = std::to_string(FreeUdpPort());
    // A light load (10 packets every 10 ms), so that no receive buffer overflows even on a busy machine.
    const RunResult result = RunFor(Options(RunMode::Loopback, {"--port", port.c_str(), "--count", "10", "--duration",
                                                                "1.2", "--interval", "300", "--json"}));
    ASSERT_EQ(result.exitCode, kExitSuccess) << result.err;
    EXPECT_EQ(result.err, "");

    const std::vector<nlohmann::json> lines = JsonLines(result.out);
    ASSERT_EQ(lines.size(), 4u) << result.out;  // at 0.3, 0.6 and 0.9 s; at 1.2 s the final one instead
    double previous = 0;
    for (size_t i = 0; i + 1 < lines.size(); ++i) {
        EXPECT_EQ(lines[i]["final"], false);
        EXPECT_GT(lines[i]["elapsed"].get<double>(), previous);
        previous = lines[i]["elapsed"].get<double>();
    }
    const nlohmann::json& last = lines.back();
    EXPECT_EQ(last["final"], true);
    EXPECT_GE(last["elapsed"].get<double>(), 1.2);
    EXPECT_GT(last["receiver"]["bytesReceived"].get<int64_t>(), 0);
    EXPECT_EQ(last["receiver"]["lossPercent"], 0.0);
    EXPECT_GT(last["sender"]["sentPackets"].get<int64_t>(), 0);
    // Every byte sent arrived: the receiver is stopped after the sender, once it has taken in what was sent.
    EXPECT_EQ(last["receiver"]["bytesReceived"].get<int64_t>(), last["sender"]["sentPackets"].get<int64_t>() * 192);
}

TEST(Run, AStopRequestEndsTheRunWithTheFinalTextReport) {
    // A receiver that gets no traffic at all still stops at once.
    const std::string port = std::to_string(FreeUdpPort());
    std::atomic<bool> stopRequested{false};
    std::thread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        stopRequested.store(true);
    });
    const RunResult result = RunWith(Options(RunMode::Receive, {"--port", port.c_str()}), stopRequested);
    stopper.join();
    ASSERT_EQ(result.exitCode, kExitSuccess) << result.err;
    EXPECT_EQ(result.out,
              "receiver statistics:\nreceived 0 MB 0 bytes\nmin jitter = 0.ms\nmax jitter = 0.ms\njitter RMS = 0.ms\n"
              "max abs. delay = 0.ms\nmean abs. delay = 0.ms\nabs. delay RMS = 0.ms\nlost packets: 100.%\n"
              "out-of-order packets: 0\nduplicate packets: 0\n\n");
}

TEST(Run, HandMadePacketsOutOfOrderShowInTheFinalReport) {
    const std::string port = std::to_string(FreeUdpPort());
    std::atomic<bool> stopRequested{false};
    std::promise<void> bound;
    RunResult result{};
    std::thread run([&] {
        result = RunWith(Options(RunMode::Receive, {"--port", port.c_str(), "--json", "--interval", "60000"}),
                         stopRequested, [&] { bound.set_value(); });
    });
    // Nothing may be sent before the receiver is bound, or it would be lost.
    if (bound.get_future().wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
        stopRequested.store(true);
        run.join();
        FAIL() << "the receiver did not start: " << result.err;
    }
    SocketLibrary library;
    UdpSocket sender = UdpSocket::Open(Endpoint());
    const Endpoint receiver = Endpoint::Ipv4(0x7F000001, static_cast<uint16_t>(std::stoi(port)));
    for (const int64_t group : {0, 1, 3, 2, 3, 4}) {
        std::vector<uint8_t> packet(64);
        WritePacketHeader(packet.data(), TestPacketHeader{0, group, group * 1000, 1'000'000});
        sender.SendTo(packet.data(), static_cast<uint32_t>(packet.size()), receiver);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    stopRequested.store(true);
    run.join();

    ASSERT_EQ(result.exitCode, kExitSuccess) << result.err;
    const std::vector<nlohmann::json> lines = JsonLines(result.out);
    ASSERT_EQ(lines.size(), 1u) << result.out;
    const nlohmann::json& receiverFigures = lines[0]["receiver"];
    EXPECT_EQ(receiverFigures["bytesReceived"], 6 * 64);
    EXPECT_EQ(receiverFigures["analysedCount"], 6);
    EXPECT_EQ(receiverFigures["outOfOrderCount"], 1);
    EXPECT_EQ(receiverFigures["duplicateCount"], 1);
    EXPECT_EQ(receiverFigures["expectedCount"], 5);
}

TEST(Run, ABindThatFailsEndsWithTheDialogsErrorText) {
    const HeldPort held;
    const std::string port = held.PortText();
    const RunResult result = RunFor(Options(RunMode::Loopback, {"--port", port.c_str(), "--duration", "5"}));
    EXPECT_EQ(result.exitCode, kExitError);
    EXPECT_EQ(result.err, "error in MainWindow::ReceiverThreadEntry: bind failed\nfile: winmain\nline: 530\n");
    EXPECT_EQ(result.out, "");
}

TEST(Run, ASizeThatNoDatagramOfTheFamilyCarriesIsRefusedBeforeTheRun) {
    const HeldPort held;
    const std::string port = held.PortText();
    struct Case {
        const char* host;
        const char* size;
        const char* err;
    };
    for (const Case& c : {
             Case{"127.0.0.1", "65508",
                  "veltrane-cli: --size: 65508 is too large for an IPv4 destination; at most 65507 bytes fit in one "
                  "datagram\n"},
             Case{"::1", "65528",
                  "veltrane-cli: --size: 65528 is too large for an IPv6 destination; at most 65527 bytes fit in one "
                  "datagram\n"},
         }) {
        const RunResult result = RunFor(
            Options(RunMode::Send, {"--to", c.host, "--port", port.c_str(), "--size", c.size, "--duration", "5"}));
        EXPECT_EQ(result.exitCode, kExitUsage);
        EXPECT_EQ(result.err, c.err);
        EXPECT_EQ(result.out, "");
    }
    const RunResult largest =
        RunFor(Options(RunMode::Send, {"--port", port.c_str(), "--size", "65507", "--duration", "0.2"}));
    EXPECT_EQ(largest.exitCode, kExitSuccess) << largest.err;
}

TEST(Run, TheSenderSendsFromItsSourcePortOrEndsWithTheBindError) {
    SocketLibrary library;
    UdpSocket listener = UdpSocket::Open(Endpoint());
    ASSERT_TRUE(listener.Bind(Endpoint::Ipv4(0x7F000001, 0)));
    const std::string port = std::to_string(listener.LocalEndpoint()->Port());
    const std::string sourcePort = std::to_string(FreeUdpPort());
    const RunResult result = RunFor(Options(RunMode::Send, {"--port", port.c_str(), "--source-port", sourcePort.c_str(),
                                                            "--count", "1", "--duration", "0.2"}));
    ASSERT_EQ(result.exitCode, kExitSuccess) << result.err;
    EXPECT_EQ(result.err, "");
    std::vector<uint8_t> packet(192);
    Endpoint source;
    ASSERT_EQ(listener.ReceiveFrom(packet.data(), 192, source), 192);
    EXPECT_EQ(source.ToString(), "127.0.0.1:" + sourcePort);

    const HeldPort held;
    const std::string heldPort = held.PortText();
    const RunResult refused =
        RunFor(Options(RunMode::Send, {"--port", port.c_str(), "--source-port", heldPort.c_str(), "--duration", "5"}));
    EXPECT_EQ(refused.exitCode, kExitError);
    EXPECT_EQ(refused.err, "error in MainWindow::SenderThreadEntry: bind failed\nfile: winmain\nline: 320\n");
    EXPECT_EQ(refused.out, "");
}

TEST(Run, AHostThatCannotBeResolvedIsAnError) {
    const RunResult result = RunFor(Options(RunMode::Send, {"--to", "no-such-host.invalid", "--duration", "5"}));
    EXPECT_EQ(result.exitCode, kExitError);
    EXPECT_EQ(result.err, "veltrane-cli: cannot resolve the destination 'no-such-host.invalid'\n");
    EXPECT_EQ(result.out, "");
}

TEST(Run, HostNamesAndIpv6LiteralsAreResolved) {
    // "localhost" may name 127.0.0.1 or ::1; a loop-back run receives on the family it sends to.
    for (const char* host : {"localhost", "::1"}) {
        SCOPED_TRACE(host);
        const std::string port = std::to_string(FreeUdpPort());
        const RunResult result =
            RunFor(Options(RunMode::Loopback, {"--to", host, "--port", port.c_str(), "--duration", "0.5", "--json"}));
        if (result.exitCode == kExitError && result.err.find("WSASocket failed") != std::string::npos) {
            GTEST_SKIP() << "no IPv6 on this host";
        }
        ASSERT_EQ(result.exitCode, kExitSuccess) << result.err;
        const nlohmann::json last = JsonLines(result.out).back();
        EXPECT_GT(last["receiver"]["analysedCount"].get<int>(), 0);
        EXPECT_EQ(last["receiver"]["lossPercent"], 0.0);
    }
}

}  // namespace
