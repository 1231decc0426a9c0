// Resets and display reads from another thread while packets flow (run under
// ThreadSanitizer too): the statistics must stay consistent and race-free.

#include <gtest/gtest.h>

#include <cmath>
#include <numeric>

#include "base/shared_value.h"
#include "base/socket_library.h"
#include "base/udp_socket.h"
#include "measure/packet_check.h"
#include "measure/receiver.h"
#include "measure/sender.h"
#include "measure_test_support.h"

namespace {

constexpr uint32_t kLoopback = 0x7F000001;
constexpr uint32_t kSize = 64;

// Every packet is the first of its group, so every datagram is analysed.
class PacketSource {
  public:
    explicit PacketSource(uint16_t port) : destination_(Endpoint::Ipv4(kLoopback, port)) {}
    void Send(int count) {
        for (int i = 0; i < count; ++i) {
            const auto packet = MakePacket(0, group_++, QueryCounter(), QueryCounterFrequency(), kSize);
            socket_.SendTo(packet.data(), kSize, destination_);
            if (i % 20 == 19) {
                SleepMs(1);  // stay well within the receiver's socket buffer
            }
        }
    }
    int64_t NextGroup() const { return group_; }

  private:
    SocketLibrary library_;
    UdpSocket socket_ = UdpSocket::Open(Endpoint());
    Endpoint destination_;
    int64_t group_ = 0;
};

// What a consistent record of analysed-only traffic satisfies, whatever resets happened.
void ExpectConsistent(const ReceiverStatistics& s) {
    if (s.analysedCount == 0) {
        // The packets after a reset wait until enough of them confirm the run.
        EXPECT_LT(s.bytesReceived, int64_t{kPacketsConfirmingRun} * kSize);
    } else {
        EXPECT_EQ(s.bytesReceived, int64_t{s.analysedCount} * kSize);
    }
    EXPECT_EQ(s.referenceSet, s.analysedCount > 0);
    EXPECT_LE(s.analysedCount, s.lastGroupNumber - s.firstGroupNumber + 1);
    // One histogram sample per analysed packet after the reference.
    const int64_t samples = s.analysedCount > 0 ? s.analysedCount - 1 : 0;
    const double sum = std::accumulate(std::begin(s.jitterHistogram), std::end(s.jitterHistogram), 0.0);
    EXPECT_NEAR(sum, 0.998 * (1 - std::pow(0.998, samples)), 1e-9);
}

TEST(Stress, ReceiverResetsAndReadsWhilePacketsFlow) {
    RecordingObserver observer;
    Receiver receiver(observer);
    ReceiverSettings settings;
    settings.local = Endpoint::Ipv4(kLoopback, 0);
    settings.packetSize = kSize;
    receiver.Start(settings);
    ASSERT_TRUE(WaitUntil([&] { return receiver.LocalPort() != 0; }));
    PacketSource source(receiver.LocalPort());

    std::atomic<bool> done{false};
    int resets = 0;
    std::thread gui([&] {
        double seen = 0;
        for (int round = 0; !done.load(); ++round) {
            seen += static_cast<double>(ReceiverStatisticsText(receiver.Statistics()).size());
            seen += LoadShared(receiver.PublishedHistogram()[round % kHistogramBins]);
            if (round % 7 == 0) {
                receiver.ResetStatistics();
                ++resets;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(300));
        }
        EXPECT_GT(seen, 0);
    });
    source.Send(3000);
    done.store(true);
    gui.join();
    EXPECT_GT(resets, 10);
    WaitForQuiet(receiver);
    ExpectConsistent(receiver.Statistics());

    // A reset while the receiver waits shows zeros at once; the next packet is the reference.
    receiver.ResetStatistics();
    EXPECT_EQ(ReceiverStatisticsText(receiver.Statistics()), ReceiverStatisticsText(ReceiverStatistics{}));
    const int64_t firstGroup = source.NextGroup();
    source.Send(5);
    ASSERT_TRUE(WaitUntil([&] { return receiver.Statistics().analysedCount == 5; }));
    const ReceiverStatistics after = receiver.Statistics();
    ExpectConsistent(after);
    EXPECT_EQ(after.firstGroupNumber, firstGroup);
    EXPECT_EQ(after.lastGroupNumber, firstGroup + 4);
    receiver.Stop();
    EXPECT_TRUE(observer.Errors().empty());
}

TEST(Stress, SenderResetsWhileSending) {
    SocketLibrary library;
    UdpSocket sink = UdpSocket::Open(Endpoint());  // never read: the kernel drops the surplus
    ASSERT_TRUE(sink.Bind(Endpoint::Ipv4(kLoopback, 0)));
    RecordingObserver observer;
    Sender sender(observer);
    SenderSettings settings;
    settings.destination = *sink.LocalEndpoint();
    settings.periodMs = 0;
    settings.packetsPerPeriod = 20;
    sender.Start(settings);
    ASSERT_TRUE(WaitUntil([&] { return observer.Displays() > 0; }));
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(300);
    double shown = 0;
    for (int round = 0; std::chrono::steady_clock::now() < end; ++round) {
        // Each snapshot is one publish: a mix of a reset and an update, or of two periods,
        // would leave a mean above its maximum or a send longer than its group.
        const SenderStatistics seen = sender.Statistics();
        EXPECT_LE(seen.meanSendDelay, seen.maxSendDelay);
        EXPECT_LE(seen.maxSendDelay, seen.maxSendGroupDelay);
        shown += SenderStatisticsText(seen, sender.PacketSize()).size();
        if (round % 5 == 0) {
            sender.ResetStatistics();
        }
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    sender.Stop();
    EXPECT_GT(shown, 0);
    const SenderStatistics last = sender.Statistics();
    // The last group may have been cut short by the stop: its time is no group's time.
    EXPECT_LE(last.meanSendDelay, last.maxSendDelay);
    EXPECT_TRUE(observer.Errors().empty());
}

}  // namespace
