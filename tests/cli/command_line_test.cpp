// The command line: the far end's defaults, every option, and refusal of bad values and bad usage.

#include <gtest/gtest.h>

#include <vector>

#include "cli_test_support.h"
#include "veltrane_version.h"

namespace {

// The dialog's defaults where the far end keeps them; a sender's load is one G.711 call of
// 20 ms from a port of the system's choice, and a receiver's buffer the dialog's packet size.
void ExpectFarEndDefaults(const CliOptions& options) {
    EXPECT_FALSE(options.bindHost);
    EXPECT_EQ(options.toHost, "127.0.0.1");
    EXPECT_EQ(options.port, 13014);
    EXPECT_EQ(options.sourcePort, 0);
    EXPECT_EQ(options.packetsPerPeriod, 1);
    EXPECT_EQ(options.bufferSizeKB, 0u);
    EXPECT_FALSE(options.durationSeconds);
    EXPECT_EQ(options.intervalMs, 1000u);
    EXPECT_FALSE(options.json);
    EXPECT_FALSE(options.quiet);
    EXPECT_EQ(options.sessionTimeoutSeconds, 300.0);
    EXPECT_EQ(options.maxSessions, 256);
    EXPECT_FALSE(options.histogram);
    EXPECT_FALSE(options.dialogText);
    if (options.Sends()) {
        EXPECT_EQ(options.codecName, "g711-20");
        EXPECT_EQ(options.periodMs, 20u);
        EXPECT_EQ(options.packetSize, 172u);
    } else {
        EXPECT_EQ(options.packetSize, 192u);
    }
}

TEST(CommandLine, EachCommandStartsFromTheFarEndsDefaults) {
    const std::pair<const char*, RunMode> commands[] = {
        {"receive", RunMode::Receive}, {"send", RunMode::Send}, {"loopback", RunMode::Loopback}};
    for (const auto& [name, mode] : commands) {
        SCOPED_TRACE(name);
        const ParsedCommandLine parsed = Parse({name});
        ASSERT_TRUE(parsed.options) << parsed.error;
        EXPECT_EQ(parsed.options->mode, mode);
        ExpectFarEndDefaults(*parsed.options);
        EXPECT_EQ(parsed.options->Sends(), mode != RunMode::Receive);
        EXPECT_EQ(parsed.options->Receives(), mode != RunMode::Send);
    }
    // A codec alone is one call of it; a size or a period alone keeps the other of the default call.
    const CliOptions codec = *Parse({"send", "--codec", "g729-30"}).options;
    EXPECT_EQ(codec.packetsPerPeriod, 1);
    EXPECT_EQ(codec.periodMs, 30u);
    const CliOptions size = *Parse({"send", "--size", "500"}).options;
    EXPECT_EQ(size.packetSize, 500u);
    EXPECT_EQ(size.periodMs, 20u);
    EXPECT_FALSE(size.codecName);
    const CliOptions period = *Parse({"send", "--period", "5"}).options;
    EXPECT_EQ(period.packetSize, 172u);
    EXPECT_FALSE(period.codecName);
}

TEST(CommandLine, LoopbackTakesEveryOption) {
    const ParsedCommandLine parsed = Parse(
        {"loopback", "--bind",         "::",    "--to",       "host.example", "--port", "65535",   "--source-port",
         "1",        "--period",       "0",     "--count",    "2147483647",   "--size", "65535",   "--buffer",
         "2097151",  "--duration",     "2.5",   "--interval", "250",          "--json", "--quiet", "--session-timeout",
         "0.5",      "--max-sessions", "16384", "--histogram"});
    ASSERT_TRUE(parsed.options) << parsed.error;
    const CliOptions& o = *parsed.options;
    EXPECT_EQ(o.bindHost, "::");
    EXPECT_EQ(o.toHost, "host.example");
    EXPECT_EQ(o.port, 65535);
    EXPECT_EQ(o.sourcePort, 1);
    EXPECT_EQ(o.periodMs, 0u);
    EXPECT_EQ(o.packetsPerPeriod, 2147483647);
    EXPECT_EQ(o.packetSize, 65535u);
    EXPECT_EQ(o.bufferSizeKB, 2097151u);
    EXPECT_EQ(o.durationSeconds, 2.5);
    EXPECT_EQ(o.intervalMs, 250u);
    EXPECT_TRUE(o.json);
    EXPECT_TRUE(o.quiet);
    EXPECT_EQ(o.sessionTimeoutSeconds, 0.5);
    EXPECT_EQ(o.maxSessions, 16384);
    EXPECT_TRUE(o.histogram);
    EXPECT_TRUE(Parse({"receive", "--dialog-text"}).options->dialogText);
    EXPECT_EQ(Parse({"loopback", "--size", "58", "--name", "north"}).options->senderName, "north");
}

TEST(CommandLine, NumbersAreDecimalAndTheEqualsFormWorks) {
    // A leading zero is not octal, and "--port=..." is the same as "--port ...".
    const ParsedCommandLine parsed = Parse({"send", "--port=013014", "--size", "0", "--count", "0"});
    ASSERT_TRUE(parsed.options) << parsed.error;
    EXPECT_EQ(parsed.options->port, 13014);
    EXPECT_EQ(parsed.options->packetSize, 0u);  // raised to 32 by the engine, as in the dialog
    EXPECT_EQ(parsed.options->packetsPerPeriod, 0);
    const ParsedCommandLine systemsChoice = Parse({"send", "--source-port", "0"});
    ASSERT_TRUE(systemsChoice.options) << systemsChoice.error;
    EXPECT_EQ(systemsChoice.options->sourcePort, 0);  // the system picks the port
}

struct BadValue {
    std::vector<const char*> arguments;
    const char* message;  // what the error must say
};

TEST(CommandLine, BadValuesAreRefusedBeforeAnythingRuns) {
    const BadValue cases[] = {
        {{"receive", "--port", "0"}, "--port: 0 is out of range"},
        {{"send", "--port", "65536"}, "--port: 65536 is out of range"},
        {{"send", "--port", "4294980310"}, "--port: 4294980310 is out of range"},  // 13014 after wrapping
        {{"send", "--port", "-1"}, "--port: -1 is negative"},
        {{"send", "--port", "abc"}, "--port: 'abc' is not a whole number"},
        {{"send", "--port", "0x32d6"}, "--port: '0x32d6' is not a whole number"},
        {{"send", "--port", "13014.5"}, "--port: '13014.5' is not a whole number"},
        {{"send", "--port", ""}, "--port"},
        {{"send", "--to", ""}, "--to: an empty text is not a host"},
        {{"loopback", "--bind", ""}, "--bind: an empty text is not a host"},
        {{"send", "--source-port", "65536"}, "--source-port: 65536 is out of range"},
        {{"send", "--period", "-10"}, "--period: -10 is negative"},
        {{"send", "--period", "4294967296"}, "--period: 4294967296 is out of range"},
        {{"send", "--count", "-1"}, "--count: -1 is negative"},
        {{"send", "--count", "2147483648"}, "--count: 2147483648 is out of range"},
        {{"send", "--count", "99999999999999999999999"}, "--count: 99999999999999999999999 is out of range"},
        {{"send", "--size", "65536"}, "--size: 65536 is out of range"},
        {{"receive", "--size", "-192"}, "--size: -192 is negative"},
        {{"send", "--buffer", "2097152"}, "--buffer: 2097152 is out of range"},
        {{"send", "--buffer", "lots"}, "--buffer: 'lots' is not a whole number"},
        {{"loopback", "--duration", "0"}, "--duration: 0 is out of range"},
        {{"loopback", "--duration", "-3"}, "--duration: -3 is negative"},
        {{"loopback", "--duration", "ten"}, "--duration: 'ten' is not a number of seconds"},
        {{"loopback", "--duration", "1e3"}, "--duration: '1e3' is not a number of seconds"},
        {{"loopback", "--duration", "2000000000"}, "--duration: 2000000000 is out of range"},
        {{"receive", "--interval", "0"}, "--interval: 0 is out of range"},
        {{"receive", "--interval", "-1000"}, "--interval: -1000 is negative"},
        {{"receive", "--session-timeout", "0"}, "--session-timeout: 0 is out of range"},
        {{"loopback", "--session-timeout", "inf"}, "--session-timeout: 'inf' is not a number of seconds"},
        {{"receive", "--session-timeout", "-5"}, "--session-timeout: -5 is negative"},
        {{"receive", "--max-sessions", "0"}, "--max-sessions: 0 is out of range"},
        {{"receive", "--max-sessions", "16385"}, "--max-sessions: 16385 is out of range"},
        {{"send", "--to", "[::1]:13014"},
         "--to: '[::1]:13014' holds a port; give the address and the port apart: "
         "--to ::1 --port 13014"},
        {{"send", "--to", "server.example:9000"}, "apart: --to server.example --port 9000"},
        {{"send", "--bind", "[fe80::1]"}, "apart: --bind fe80::1 --port 13014"},
        {{"loopback", "--dscp", "AF44"}, "--dscp: 'AF44' is not a DSCP value"},
        {{"send", "--dscp", "64"}, "--dscp: '64' is not a DSCP value"},
        {{"send", "--codec", "g711"}, "--codec: 'g711' is not a codec of this list: g711-10, g711-20"},
        {{"send", "--calls", "0"}, "--calls: 0 is out of range"},
        {{"send", "--pace", "steady"}, "--pace: 'steady' is neither fixed nor pause"},
        {{"receive", "--key", ""}, "--key: an empty text is not a file name"},
        // The reflector's stamps need 77 bytes, after the name's: a shorter packet is never answered.
        {{"send", "--size", "76", "--round-trip"}, "--round-trip: the reflector writes its stamps"},
        {{"send", "--size", "86", "--round-trip", "--name", "north"}, "leave no room for them (87 or more)"},
        {{"reflect", "--size", "76"}, "--size: 76 is out of range"},
        {{"send", "--name", ""}, "--name: '' is not a sender name; expected 1 to 32 printable ASCII characters"},
        {{"send", "--name", "abcdefghijklmnopqrstuvwxyz0123456"}, "is not a sender name"},
        {{"loopback", "--name", "tab\there"}, "--name: 'tab\there' is not a sender name"},
        // The name's block needs the 48 bytes before it, its own 5 and the name's.
        {{"send", "--name", "north", "--size", "57"},
         "--name: the name travels in the packet's filler from byte 48 on, with 5 bytes of its own; packets of 57 "
         "bytes leave no room for 'north' (58 or more)"},
        {{"receive", "--name", "north"}, "--name"},
    };
    for (const BadValue& bad : cases) {
        SCOPED_TRACE(std::string(bad.arguments[1]) + " " + bad.arguments[2]);
        const ParsedCommandLine parsed = Parse(bad.arguments);
        EXPECT_FALSE(parsed.options);
        EXPECT_EQ(parsed.exitCode, kExitUsage);
        EXPECT_NE(parsed.error.find(bad.message), std::string::npos) << parsed.error;
        EXPECT_NE(parsed.error.find("usage: veltrane-cli"), std::string::npos);
        EXPECT_TRUE(parsed.output.empty());
    }
}

TEST(CommandLine, BadUsageGivesTheShortUsageAndExitCode2) {
    const std::vector<std::vector<const char*>> cases = {
        {},                                                // no command
        {"measure"},                                       // no such command
        {"receive", "--to", "somewhere"},                  // an option of another command
        {"send", "--colour"},                              // no such option
        {"send", "--port"},                                // a value missing
        {"send", "--port", "1", "--port", "2"},            // given twice
        {"loopback", "extra"},                             // a stray argument
        {"receive", "send"},                               // two commands
        {"send", "--codec", "g711-20", "--size", "100"},   // the codec sets the size
        {"send", "--codec", "g711-20", "--period", "10"},  // and the period
        {"send", "--calls", "3", "--count", "3"},          // two counts
        {"help", "measure"},                               // help on no such command
        {"send", "--session-timeout", "5"},                // a receiver's option
        {"receive", "--histogram"},                        // a JSON figure without --json
        {"receive", "--json", "--dialog-text"},            // two outputs
        {"send", "--quiet", "--output", "x.txt"},          // no reports, and a file of them
    };
    for (const auto& arguments : cases) {
        SCOPED_TRACE(arguments.empty() ? "(nothing)" : arguments.back());
        const ParsedCommandLine parsed = Parse(arguments);
        EXPECT_FALSE(parsed.options);
        EXPECT_EQ(parsed.exitCode, kExitUsage);
        EXPECT_EQ(parsed.error.rfind("veltrane-cli: ", 0), 0u) << parsed.error;
        EXPECT_NE(parsed.error.find(ShortUsage()), std::string::npos);
    }
}

TEST(CommandLine, HelpGoesToStandardOutputWithExitCode0) {
    struct Case {
        std::vector<const char*> arguments;
        const char* shows;
    };
    for (const Case& c : {Case{{"--help"}, "loopback"}, Case{{"send", "-h"}, "--source-port"},
                          Case{{"help"}, "loopback"}, Case{{"help", "send"}, "--codec"}}) {
        const ParsedCommandLine parsed = Parse(c.arguments);
        EXPECT_FALSE(parsed.options);
        EXPECT_EQ(parsed.exitCode, kExitSuccess);
        EXPECT_TRUE(parsed.error.empty());
        EXPECT_NE(parsed.output.find(c.shows), std::string::npos) << parsed.output;
    }
    EXPECT_EQ(Parse({"frob"}).error.rfind("veltrane-cli: unknown command 'frob'\n", 0), 0u);
}

TEST(CommandLine, VoiceOptionsSetTheLoadTheMarkAndThePace) {
    const ParsedCommandLine parsed = Parse({"loopback", "--codec", "G729-10", "--calls", "30", "--pace", "pause"});
    ASSERT_TRUE(parsed.options) << parsed.error;
    EXPECT_EQ(parsed.options->packetSize, 22u);
    EXPECT_EQ(parsed.options->periodMs, 10u);
    EXPECT_EQ(parsed.options->packetsPerPeriod, 30);
    EXPECT_EQ(parsed.options->codecName, "g729-10");
    EXPECT_EQ(parsed.options->pace, Pace::Pause);
    EXPECT_EQ(Parse({"send"}).options->pace, Pace::Fixed);
    // Calls spread their packets over the period; a plain count sends its group back to back.
    EXPECT_TRUE(parsed.options->spreadCalls);
    EXPECT_TRUE(Parse({"send", "--codec", "g711-20"}).options->spreadCalls);
    EXPECT_FALSE(Parse({"send", "--count", "30"}).options->spreadCalls);
    // The receiver judges calls of the codec it is told, keeping its own buffer size; loopback
    // those it sends.
    const ParsedCommandLine judging = Parse({"receive", "--codec", "g729-20", "--one-way-delay", "12.5"});
    ASSERT_TRUE(judging.options) << judging.error;
    EXPECT_STREQ(judging.options->judgement->codec.name, "g729-20");
    EXPECT_EQ(judging.options->judgement->oneWayDelayMs, 12.5);
    EXPECT_EQ(judging.options->packetSize, DefaultSettings::kPacketSize);
    EXPECT_STREQ(parsed.options->judgement->codec.name, "g729-10");
    EXPECT_FALSE(parsed.options->judgement->oneWayDelayMs);
    EXPECT_FALSE(Parse({"receive"}).options->judgement);
    EXPECT_FALSE(Parse({"send", "--codec", "g711-20"}).options->judgement);
    EXPECT_EQ(Parse({"receive", "--one-way-delay", "20"}).exitCode, kExitUsage);
    EXPECT_EQ(Parse({"receive", "--codec", "g711-20", "--one-way-delay", "-3"}).exitCode, kExitUsage);
    // send's --bind is the address to send from; loopback's the one to receive on.
    EXPECT_EQ(Parse({"send", "--bind", "10.0.0.2"}).options->sourceHost, "10.0.0.2");
    EXPECT_EQ(Parse({"loopback", "--bind", "::1"}).options->bindHost, "::1");

#ifdef _WIN32
    // Windows would send the packets unmarked: the mark is refused before anything runs.
    const ParsedCommandLine refused = Parse({"loopback", "--dscp", "ef"});
    EXPECT_FALSE(refused.options);
    EXPECT_EQ(refused.exitCode, kExitUsage);
    EXPECT_EQ(refused.error.rfind("veltrane-cli: --dscp: Windows does not mark the packets of a program", 0), 0u)
        << refused.error;
#else
    const std::pair<const char*, int> names[] = {{"ef", 46}, {"AF11", 10}, {"af43", 38}, {"CS5", 40},
                                                 {"cs0", 0}, {"BE", 0},    {"63", 63},   {"0", 0}};
    for (const auto& [name, dscp] : names) {
        const ParsedCommandLine marked = Parse({"send", "--dscp", name});
        ASSERT_TRUE(marked.options) << name;
        EXPECT_EQ(marked.options->dscp, dscp) << name;
    }
#endif
}

// A key that others can read, or that is not 32 bytes long, signs nothing: refused before the run.
TEST(CommandLine, AKeyIsTakenFromAPrivateFileOf32Bytes) {
    const KeyFile keyFile("private", KeyBytes());
    const char* const key = keyFile.Path();
#ifdef _WIN32
    // No crypto library in the Windows console program: the key is refused, not ignored.
    const ParsedCommandLine refused = Parse({"receive", "--key", key});
    EXPECT_FALSE(refused.options);
    EXPECT_EQ(refused.exitCode, kExitUsage);
    EXPECT_EQ(refused.error.rfind("veltrane-cli: --key: the Windows console program neither signs nor checks", 0), 0u)
        << refused.error;
#else
    using std::filesystem::perms;
    for (const char* command : {"receive", "send", "loopback"}) {
        const ParsedCommandLine parsed = Parse({command, "--key", key});
        ASSERT_TRUE(parsed.options) << parsed.error;
        ASSERT_TRUE(parsed.options->key) << command;
        EXPECT_EQ(std::string(parsed.options->key->begin(), parsed.options->key->end()), KeyBytes());
    }
    EXPECT_FALSE(Parse({"send"}).options->key);
    EXPECT_TRUE(
        Parse({"send", "--size", "48", "--key", KeyFile("owner-read", KeyBytes(), perms::owner_read).Path()}).options);

    const KeyFile groupReadable("group", KeyBytes(), perms::owner_read | perms::group_read);
    const KeyFile othersWritable("others", KeyBytes(), perms::owner_all | perms::others_write);
    const KeyFile shorter("short", KeyBytes().substr(1));
    const KeyFile longer("long", KeyBytes() + "x");
    const std::string folder = KeyFile::TempPath("folder");
    std::filesystem::create_directory(folder);
    std::filesystem::permissions(folder, perms::owner_all);
    const std::string missing = KeyFile::TempPath("missing");
    const BadValue cases[] = {
        {{"send", "--key", groupReadable.Path()}, "the key file grants access to others (mode 0440); make it "},
        {{"receive", "--key", othersWritable.Path()}, "grants access to others (mode 0702)"},
        {{"send", "--key", shorter.Path()}, "a key file holds exactly 32 bytes, this one 31; make one with: head -c"},
        {{"loopback", "--key", longer.Path()}, "exactly 32 bytes, this one 33"},
        {{"send", "--key", folder.c_str()}, "the key must be a regular file"},
        {{"receive", "--key", missing.c_str()}, "cannot open the key file: No such file"},
        // The tag needs the 16 bytes after the header, whatever set the size.
        {{"send", "--size", "47", "--key", key}, "--key: a keyed packet carries a 16-byte tag"},
        {{"receive", "--size", "0", "--key", key}, "packets of 32 bytes leave no room for it"},
        {{"loopback", "--codec", "g729-10", "--key", key}, "packets of 32 bytes leave no room"},
    };
    for (const BadValue& bad : cases) {
        SCOPED_TRACE(bad.message);
        const ParsedCommandLine parsed = Parse(bad.arguments);
        EXPECT_FALSE(parsed.options);
        EXPECT_EQ(parsed.exitCode, kExitUsage);
        EXPECT_NE(parsed.error.find(bad.message), std::string::npos) << parsed.error;
    }
    std::filesystem::remove(folder);
#endif
}

// The packages' man page and checks read this line; it needs no command.
TEST(CommandLine, VersionPrintsNameAndVersionWithExitCode0) {
    const ParsedCommandLine parsed = Parse({"--version"});
    EXPECT_FALSE(parsed.options);
    EXPECT_EQ(parsed.exitCode, kExitSuccess);
    EXPECT_EQ(parsed.output, "veltrane-cli " VELTRANE_VERSION "\n");
    EXPECT_TRUE(parsed.error.empty());
}

}  // namespace
