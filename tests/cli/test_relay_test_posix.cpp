// The test relay itself, between two sockets of the test: what the far end's end-to-end tests
// rely on it for (the policing, the counted loss, the moved clock, the hostile datagrams from
// the stream's own address, the steadily growing delay).

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <map>
#include <thread>

#include "base/socket_library.h"
#include "base/udp_socket.h"
#include "measure/end_of_run.h"
#include "measure/test_packet.h"
#include "measure_test_support.h"
#include "relay_process_posix.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kLoopback = 0x7F000001;
constexpr int64_t kFrequency = 1'000'000'000;

struct Arrival {
    std::vector<uint8_t> datagram;
    Endpoint source;
    Clock::time_point at;
};

// A socket on 127.0.0.1 whose receive gives up after a quiet half second.
class Sink {
  public:
    Sink() {
        socket_.Bind(Endpoint::Ipv4(kLoopback, 0));
        const timeval quiet{0, 500'000};
        setsockopt(socket_.Get(), SOL_SOCKET, SO_RCVTIMEO, &quiet, sizeof(quiet));
        const int bytes = 4 << 20;  // a burst of a few thousand datagrams waits here whole
        setsockopt(socket_.Get(), SOL_SOCKET, SO_RCVBUF, &bytes, sizeof(bytes));
    }
    uint16_t Port() const { return socket_.LocalEndpoint()->Port(); }

    // Everything that arrives until the sink has been quiet for half a second.
    std::vector<Arrival> ReceiveAll() {
        std::vector<Arrival> arrivals;
        std::vector<uint8_t> buffer(65536);
        Endpoint source;
        for (int64_t length; (length = socket_.ReceiveFrom(buffer.data(), 65536, source)) >= 0;) {
            arrivals.push_back({{buffer.begin(), buffer.begin() + length}, source, Clock::now()});
        }
        return arrivals;
    }

  private:
    SocketLibrary library_;
    UdpSocket socket_ = UdpSocket::Open(Endpoint());
};

void SendTestPacket(UdpSocket& socket, uint16_t port, int32_t index, int64_t group, int64_t counter) {
    const std::vector<uint8_t> packet = MakePacket(index, group, counter, kFrequency, kPacketHeaderSize);
    socket.SendTo(packet.data(), kPacketHeaderSize, Endpoint::Ipv4(kLoopback, port));
}

TEST(TestRelay, PolicesMovesTheClockAndInjectsEveryKindFromItsOwnAddress) {
    Sink sink;
    RelayProcess relay(sink.Port(), {"--police", "3", "--clock-ahead", "3600", "--inject-every", "1"});
    ASSERT_NE(relay.Port(), 0) << relay.Errors();
    UdpSocket sender = UdpSocket::Open(Endpoint());
    for (int64_t group = 0; group < 4; ++group) {
        for (int32_t index = 0; index < 5; ++index) {
            SendTestPacket(sender, relay.Port(), index, group, 1000 * group + index);
        }
    }
    const std::vector<Arrival> arrivals = sink.ReceiveAll();
    const nlohmann::json counts = relay.Finish();

    int forwarded = 0;
    std::map<size_t, int> hostileLengths;
    for (const Arrival& arrival : arrivals) {
        EXPECT_EQ(arrival.source, Endpoint::Ipv4(kLoopback, relay.Port()));
        const TestPacketHeader header = arrival.datagram.size() >= kPacketHeaderSize
                                            ? ReadPacketHeader(arrival.datagram.data())
                                            : TestPacketHeader{};
        const bool real = arrival.datagram.size() == kPacketHeaderSize && header.counterFrequency == kFrequency &&
                          header.groupNumber >= 0 && header.groupNumber < 4;
        if (real) {
            EXPECT_LT(header.indexInGroup, 3);
            EXPECT_EQ(header.sendCounter, 1000 * header.groupNumber + header.indexInGroup + 3600 * kFrequency);
            ++forwarded;
        } else {
            ++hostileLengths[arrival.datagram.size()];
        }
    }
    EXPECT_EQ(forwarded, 12);
    EXPECT_EQ(hostileLengths, (std::map<size_t, int>{{31, 2}, {32, 8}, {2048, 2}}));
    ASSERT_TRUE(counts.is_object());
    EXPECT_EQ(counts["received"], 20);
    EXPECT_EQ(counts["forwarded"], 12);
    EXPECT_EQ(counts["dropped"], 8);
    EXPECT_EQ(counts["injected"]["total"], 12);
    EXPECT_EQ(counts["injected"]["frequencyZero"], 2);
}

// A sender's end of run carries its counter: a clock moved ahead moves it too, or a far end
// would find the end off the run's line.
TEST(TestRelay, MovesTheClockOfTheEndOfRunToo) {
    Sink sink;
    RelayProcess relay(sink.Port(), {"--clock-ahead", "3600"});
    ASSERT_NE(relay.Port(), 0) << relay.Errors();
    UdpSocket sender = UdpSocket::Open(Endpoint());
    SendTestPacket(sender, relay.Port(), 0, 0, 1000);
    std::vector<uint8_t> end(kEndOfRunSize);
    WriteEndOfRun(end.data(), EndOfRun{0, 1, 2000});
    sender.SendTo(end.data(), kEndOfRunSize, Endpoint::Ipv4(kLoopback, relay.Port()));
    const std::vector<Arrival> arrivals = sink.ReceiveAll();
    relay.Finish();
    ASSERT_EQ(arrivals.size(), 2u);
    const std::optional<EndOfRun> moved =
        ReadEndOfRun(arrivals[1].datagram.data(), static_cast<int64_t>(arrivals[1].datagram.size()));
    ASSERT_TRUE(moved);
    EXPECT_EQ(moved->sendCounter, 2000 + 3600 * kFrequency);
}

TEST(TestRelay, LosesTheGivenShareAtRandomAndCountsWhatItDropped) {
    Sink sink;
    RelayProcess relay(sink.Port(), {"--loss", "10", "--seed", "3"});
    ASSERT_NE(relay.Port(), 0) << relay.Errors();
    UdpSocket sender = UdpSocket::Open(Endpoint());
    for (int64_t group = 0; group < 2000; ++group) {
        SendTestPacket(sender, relay.Port(), 0, group, group);
    }
    const size_t arrived = sink.ReceiveAll().size();
    const nlohmann::json counts = relay.Finish();
    ASSERT_TRUE(counts.is_object());
    EXPECT_EQ(counts["received"], 2000);
    EXPECT_EQ(counts["forwarded"], arrived);
    EXPECT_EQ(counts["dropped"].get<int64_t>() + counts["forwarded"].get<int64_t>(), 2000);
    EXPECT_NEAR(counts["dropped"].get<double>(), 200.0, 60.0);  // 4.5 standard deviations
}

// At 5 % of the time since the relay's start, a packet sent a second after another is held
// 50 ms longer; the order stays.
TEST(TestRelay, LengthensTheDelayInProportionToTheTimeSinceItsStart) {
    Sink sink;
    RelayProcess relay(sink.Port(), {"--delay-ramp", "50000"});
    ASSERT_NE(relay.Port(), 0) << relay.Errors();
    UdpSocket sender = UdpSocket::Open(Endpoint());
    std::vector<Clock::time_point> sent;
    std::thread send([&] {
        for (int64_t group = 0; group <= 20; ++group) {
            sent.push_back(Clock::now());
            SendTestPacket(sender, relay.Port(), 0, group, group);
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    });
    const std::vector<Arrival> arrivals = sink.ReceiveAll();
    send.join();
    relay.Finish();

    ASSERT_EQ(arrivals.size(), 21u);
    for (size_t i = 0; i < arrivals.size(); ++i) {
        EXPECT_EQ(ReadPacketHeader(arrivals[i].datagram.data()).groupNumber, static_cast<int64_t>(i));
    }
    // What each packet was held beyond the growth expected of it; the least of the first few
    // and of the last few, as a busy host only ever adds to it.
    const auto beyondRamp = [&](size_t i) {
        const double delayMs = std::chrono::duration<double, std::milli>(arrivals[i].at - sent[i]).count();
        return delayMs - 0.05 * std::chrono::duration<double, std::milli>(sent[i] - sent[0]).count();
    };
    double first = 1e9;
    double last = 1e9;
    for (size_t i = 0; i < 5; ++i) {
        first = std::min(first, beyondRamp(i));
        last = std::min(last, beyondRamp(20 - i));
    }
    EXPECT_NEAR(last, first, 2.0);
}

}  // namespace
