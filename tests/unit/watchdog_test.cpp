#include "measure/watchdog.h"

#include <gtest/gtest.h>

#include "base/socket_library.h"
#include "base/udp_socket.h"
#include "measure/sender.h"
#include "measure_test_support.h"

namespace {

constexpr int64_t kFrequency = 10'000'000;

// Times one real loopback send with a scripted counter: the header reading, then the two
// readings around the send call.
class SendWatchdog : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(library.Started());
        ASSERT_TRUE(target.Bind(Endpoint::Ipv4(0x7F000001, 0)));
        destination = *target.LocalEndpoint();
        ASSERT_TRUE(socket.Valid());
    }

    void SendTaking(int64_t counts, LogSink* sink) {
        clock.script = {1, 1000, 1000 + counts};
        SendContext context{socket, destination, packet, sizeof(packet), statistics, clock, sink};
        SendPacket(context, 0, 0);
    }

    SocketLibrary library;
    UdpSocket target = UdpSocket::Open(Endpoint());
    UdpSocket socket = UdpSocket::Open(Endpoint());
    Endpoint destination;
    uint8_t packet[32] = {};
    SenderStatistics statistics;
    ManualClock clock{kFrequency};
};

TEST_F(SendWatchdog, ThresholdsAreStrict) {
    RecordingSink sink;
    SendTaking(30'000, &sink);   // 3 ms: not above the lower threshold
    SendTaking(35'000, &sink);   // 3.5 ms
    SendTaking(150'000, &sink);  // 15 ms: not above the upper threshold
    SendTaking(155'000, &sink);  // 15.5 ms
    const auto entries = sink.Entries();
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].first, "delay = 3.5ms in MainWindow::SendPacket file winmain line 370");
    EXPECT_EQ(entries[0].second, 3);
    EXPECT_EQ(entries[1].first, "delay = 15.ms in MainWindow::SendPacket file winmain line 370");
    EXPECT_EQ(entries[1].second, 3);
    EXPECT_EQ(entries[2].first, "delay = 15.5ms in MainWindow::SendPacket file winmain line 370");
    EXPECT_EQ(entries[2].second, 0);
    EXPECT_EQ(statistics.sentPackets, 4);
}

TEST_F(SendWatchdog, WithoutASinkTheDelayStillCounts) {
    SendTaking(200'000, nullptr);  // 20 ms
    EXPECT_DOUBLE_EQ(statistics.maxSendDelay, 20.0);
    // The new sample's weight is 0.998 * 0.002.
    EXPECT_DOUBLE_EQ(statistics.meanSendDelay, 0.998 * 0.002 * 20.0);
    const TestPacketHeader header = ReadPacketHeader(packet);
    EXPECT_EQ(header.sendCounter, 1);
    EXPECT_EQ(header.counterFrequency, kFrequency);
}

TEST(Watchdog, ReceiveSiteAndEvents) {
    RecordingSink sink;
    CheckSlowCall(&sink, kReceivePacketSite, 15.0);
    CheckSlowCall(&sink, kReceivePacketSite, 20.0);
    CheckSlowCall(&sink, kReceivePacketSite, 40.0);
    CheckSlowCall(&sink, kAnalyzePacketSite, 10.5);
    CheckSlowCall(&sink, kSenderGroupSite, 4.0);
    LogEvent(&sink, "sender thread started");
    LogEvent(&sink, "senderBufferSize = %i bytes", 65536);
    LogEvent(nullptr, "dropped");
    CheckSlowCall(nullptr, kReceivePacketSite, 100.0);
    const std::vector<std::pair<std::string, int32_t>> expected = {
        {"delay = 20.ms in MainWindow::ReceivePacket file winmain line 552", 3},
        {"delay = 40.ms in MainWindow::ReceivePacket file winmain line 552", 0},
        {"delay = 10.5ms in MainWindow::AnalyzeReceivedPacket file winmain line 598", 0},
        {"delay = 4.ms in MainWindow::SenderThreadEntry file winmain line 338", 3},
        {"sender thread started", 3},
        {"senderBufferSize = 65536 bytes", 3},
    };
    EXPECT_EQ(sink.Entries(), expected);
}

}  // namespace
