// The program itself as a user's shell starts it: exit codes, a three-second loop-back run,
// and the clean end on SIGINT and SIGTERM.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <sstream>

#include "child_process_posix.h"
#include "cli_test_support.h"

namespace {

using std::chrono::milliseconds;

constexpr milliseconds kGenerous{20000};

std::vector<std::string> Program(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), VELTRANE_CLI_PROGRAM);
    return arguments;
}

nlohmann::json LastJsonLine(const std::string& out) {
    std::istringstream stream(out);
    std::string line;
    std::string last;
    while (std::getline(stream, line)) {
        last = line;
    }
    return nlohmann::json::parse(last);
}

TEST(Program, ExitCodesTellUsageErrorsFromRunErrors) {
    struct Case {
        std::vector<std::string> arguments;
        int exitCode;
        const char* err;  // the start of what stderr says
    };
    SocketLibrary library;
    UdpSocket held = UdpSocket::Open(Endpoint());
    ASSERT_TRUE(held.Bind(Endpoint::Ipv4(0, 0)));
    const std::string heldPort = std::to_string(held.LocalEndpoint()->Port());
    const Case cases[] = {
        {{}, 2, "veltrane-cli: A subcommand is required\nusage: "},
        {{"send", "--port", "0"}, 2, "veltrane-cli: --port: 0 is out of range"},
        {{"receive", "--size", "big"}, 2, "veltrane-cli: --size: 'big' is not a whole number"},
        {{"receive", "--port", heldPort, "--duration", "5"},
         1,
         "error in MainWindow::ReceiverThreadEntry: bind failed\nfile: winmain\nline: 530\n"},
        {{"--help"}, 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.empty() ? "(nothing)" : c.arguments[0] + " " + c.arguments.back());
        ChildProcess program(Program(c.arguments));
        ASSERT_TRUE(program.Started());
        EXPECT_EQ(program.WaitForExit(kGenerous), c.exitCode) << program.err;
        EXPECT_EQ(program.err.rfind(c.err, 0), 0u) << program.err;
        EXPECT_EQ(program.out.empty(), c.exitCode != 0) << program.out;
    }
}

TEST(Program, LoopbackForThreeSecondsLosesNothing) {
    ChildProcess program(Program(
        {"loopback", "--duration", "3", "--json", "--port", std::to_string(FreeUdpPort()), "--source-port", "0"}));
    ASSERT_TRUE(program.Started());
    ASSERT_EQ(program.WaitForExit(kGenerous), 0) << program.err;
    EXPECT_EQ(program.err, "");
    const nlohmann::json last = LastJsonLine(program.out);
    EXPECT_EQ(last["final"], true);
    EXPECT_EQ(last["receiver"]["lossPercent"], 0.0);
    EXPECT_GT(last["receiver"]["bytesReceived"].get<int64_t>(), 0);
    EXPECT_GE(last["elapsed"].get<double>(), 3.0);
}

// A group of 2147483647 packets lasts hours: the run still ends on its duration, and on
// SIGTERM at once, with the real elapsed time in its final report.
TEST(Program, AHugeGroupEndsOnTheDurationAndOnSIGTERMWithinOneSend) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    constexpr milliseconds kSlack{1000};  // a sanitised program is slower at everything
#else
    constexpr milliseconds kSlack{0};
#endif
    SocketLibrary library;
    UdpSocket sink = UdpSocket::Open(Endpoint());  // never read: the system drops the surplus
    ASSERT_TRUE(sink.Bind(Endpoint::Ipv4(0x7F000001, 0)));
    const std::vector<std::string> send{
        "send",   "--count",       "2147483647", "--period", "0",
        "--json", "--source-port", "0",          "--port",   std::to_string(sink.LocalEndpoint()->Port())};

    std::vector<std::string> timed = send;
    timed.insert(timed.end(), {"--duration", "1"});
    const auto started = std::chrono::steady_clock::now();
    ChildProcess program(Program(timed));
    ASSERT_TRUE(program.Started());
    ASSERT_EQ(program.WaitForExit(kGenerous), 0) << program.err;
    EXPECT_LE(std::chrono::steady_clock::now() - started, milliseconds(1500) + kSlack);
    const nlohmann::json last = LastJsonLine(program.out);
    EXPECT_EQ(last["final"], true);
    EXPECT_GE(last["elapsed"].get<double>(), 1.0);
    EXPECT_LT(last["elapsed"].get<double>(), 1.2 + kSlack.count() / 1000.0);
    EXPECT_GT(last["sender"]["sentPackets"].get<int64_t>(), 0);

    std::vector<std::string> untimed = send;
    untimed.insert(untimed.end(), {"--interval", "100"});
    ChildProcess signalled(Program(untimed));
    ASSERT_TRUE(signalled.Started());
    ASSERT_TRUE(signalled.WaitForOutput("\"final\":false", kGenerous)) << signalled.err;
    const auto signalledAt = std::chrono::steady_clock::now();
    signalled.Signal(SIGTERM);
    ASSERT_EQ(signalled.WaitForExit(kGenerous), 0) << signalled.err;
    EXPECT_LE(std::chrono::steady_clock::now() - signalledAt, milliseconds(200) + kSlack);
    EXPECT_EQ(LastJsonLine(signalled.out)["final"], true);
}

// The signal comes while packets flow (loopback) and while nothing arrives (receive): either
// way the final report is printed and the program ends with 0 within a second.
struct SignalCase {
    const char* command;
    int signal;
};

void PrintTo(const SignalCase& c, std::ostream* os) {
    *os << c.command << (c.signal == SIGINT ? " SIGINT" : " SIGTERM");
}

class StopSignal : public ::testing::TestWithParam<SignalCase> {};

TEST_P(StopSignal, EndsTheRunWithTheFinalReportWithinOneSecond) {
    std::vector<std::string> arguments{GetParam().command,           "--json", "--interval", "100", "--port",
                                       std::to_string(FreeUdpPort())};
    if (arguments[0] == "loopback") {
        arguments.insert(arguments.end(), {"--source-port", "0"});  // 13013 may be in use by another run
    }
    ChildProcess program(Program(arguments));
    ASSERT_TRUE(program.Started());
    ASSERT_TRUE(program.WaitForOutput("\"final\":false", kGenerous)) << program.err;

    const auto signalled = std::chrono::steady_clock::now();
    program.Signal(GetParam().signal);
    const int exitCode = program.WaitForExit(kGenerous);
    const auto took = std::chrono::steady_clock::now() - signalled;

    EXPECT_EQ(exitCode, 0) << program.err;
    EXPECT_LE(took, milliseconds(1000));
    EXPECT_EQ(program.err, "");
    const nlohmann::json last = LastJsonLine(program.out);
    EXPECT_EQ(last["final"], true);
    EXPECT_TRUE(last.contains("receiver"));
}

INSTANTIATE_TEST_SUITE_P(
    Program,
    StopSignal,
    ::testing::Values(SignalCase{"loopback", SIGINT}, SignalCase{"receive", SIGTERM}, SignalCase{"receive", SIGINT}),
    [](const auto& info) {
        return std::string(info.param.command) + (info.param.signal == SIGINT ? "_SIGINT" : "_SIGTERM");
    });

}  // namespace
