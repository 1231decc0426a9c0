// send --round-trip against `veltrane-cli reflect` through the test relay, which delays the way
// out and loses packets on either way: the round trip is the path's, and each way's loss is
// told apart by the reflector's count.

#include <gtest/gtest.h>

#include <cmath>
#include <thread>

#include "cli_test_support.h"
#include "relay_process_posix.h"

namespace {

using nlohmann::json;
using std::chrono::milliseconds;

constexpr milliseconds kGenerous{60000};

struct RoundTripRun {
    json sender;  // the sender's final object
    json relay;   // what the relay did
};

// One sender through its own relay (`relayOptions`) to one reflector, for `seconds`.
RoundTripRun RunRoundTrip(const std::vector<std::string>& relayOptions, const std::string& seconds) {
    const uint16_t reflectPort = FreeUdpPort();
    ChildProcess reflector(
        Program({"reflect", "--quiet", "--bind", "127.0.0.1", "--port", std::to_string(reflectPort)}));
    RelayProcess relay(reflectPort, relayOptions);
    RoundTripRun run;
    // A packet sent before the reflector listens would be lost on the way out indeed.
    if (!reflector.Started() || relay.Port() == 0 || !WaitUntilBound(reflectPort)) {
        ADD_FAILURE() << "reflector or relay not started: " << relay.Errors();
        return run;
    }
    ChildProcess sender(Program({"send", "--json", "--round-trip", "--to", "127.0.0.1", "--port",
                                 std::to_string(relay.Port()), "--duration", seconds, "--interval", "1000"}));
    EXPECT_EQ(sender.WaitForExit(kGenerous), 0) << sender.err;
    run.sender = LastJsonLine(sender.out)["sender"];
    run.relay = relay.Finish();
    reflector.Signal(SIGTERM);
    EXPECT_EQ(reflector.WaitForExit(kGenerous), 0) << reflector.err;
    return run;
}

// The packets sent after the latest echo may have been lost either way: only the counts up to
// it are told apart, and exactly.
void ExpectLossOneWay(const json& loss, int64_t lostThatWay, const char* thatWay, const char* otherWay) {
    EXPECT_EQ(loss[otherWay], 0) << loss;
    EXPECT_LE(loss[thatWay].get<int64_t>(), lostThatWay) << loss;
    EXPECT_GE(loss[thatWay].get<int64_t>() + loss["unresolved"].get<int64_t>(), lostThatWay) << loss;
    EXPECT_GT(loss[thatWay].get<int64_t>(), 0) << loss;
}

}  // namespace

// A timing check: the sanitizers slow the sender's and the reflector's threads.
#if !defined(__SANITIZE_ADDRESS__) && !defined(__SANITIZE_THREAD__)
TEST(RoundTrip, ThroughARelayThatDelaysTheWayOutTheRoundTripIsThePathsWithoutTheReflectorsHold) {
    const RoundTripRun run = RunRoundTrip({"--delay", "10"}, "3");
    const json& roundTrip = run.sender["roundTrip"];
    ASSERT_TRUE(roundTrip.is_object()) << run.sender;
    EXPECT_GT(roundTrip["count"].get<int64_t>(), 100) << roundTrip;
    EXPECT_NEAR(roundTrip["p50"].get<double>(), 10.0, 0.3) << roundTrip;
    EXPECT_EQ(run.sender["roundTripLoss"]["forwardLost"], 0) << run.sender;
    EXPECT_EQ(run.sender["roundTripLoss"]["returnLost"], 0) << run.sender;
    EXPECT_EQ(run.sender["quality"]["delaySource"], "halfRoundTrip") << run.sender;
}
#endif

TEST(RoundTrip, LossOnOneWayIsCountedOnThatWayAlone) {
    RoundTripRun out;
    RoundTripRun back;
    std::thread outward([&] { out = RunRoundTrip({"--loss", "10", "--seed", "7"}, "3"); });
    back = RunRoundTrip({"--return-loss", "10", "--seed", "11"}, "3");
    outward.join();
    ASSERT_TRUE(out.relay.is_object() && back.relay.is_object()) << "a relay did not end cleanly";
    ExpectLossOneWay(out.sender["roundTripLoss"], out.relay["droppedPackets"], "forwardLost", "returnLost");
    ExpectLossOneWay(back.sender["roundTripLoss"], back.relay["returnDropped"], "returnLost", "forwardLost");
}
