// Batched receives on loopback: each datagram keeps its source, bytes and the kernel's arrival
// stamp on the monotonic counter; the socket's drops are counted exactly, and widened.

#include "base/datagram_batch.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "base/clock.h"
#include "base/socket_library.h"

namespace {

constexpr uint32_t kLoopback = 0x7F000001;

struct LoopbackPair {
    LoopbackPair() {
        receiver = UdpSocket::Open(Endpoint());
        sender = UdpSocket::Open(Endpoint());
        EXPECT_TRUE(receiver.Bind(Endpoint::Ipv4(kLoopback, 0)));
        EXPECT_TRUE(sender.Bind(Endpoint::Ipv4(kLoopback, 0)));
        to = *receiver.LocalEndpoint();
    }
    void Send(uint32_t length, uint8_t fill) {
        std::vector<uint8_t> bytes(length, fill);
        ASSERT_EQ(sender.SendTo(bytes.data(), length, to), SendResult::Sent);
    }
    SocketLibrary library;
    UdpSocket receiver;
    UdpSocket sender;
    Endpoint to;
};

TEST(DatagramBatch, OneReceiveTakesEveryQueuedDatagramWithItsOwnSourceAndKernelStamp) {
    LoopbackPair pair;
    ASSERT_TRUE(pair.receiver.EnableKernelStamps());
    // The system starts stamping arrivals a moment after the first socket asks for it (until
    // then a datagram is stamped when it is read): one datagram, taken, lets that moment pass.
    pair.Send(1, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_EQ(DatagramBatch(1, 64).Receive(pair.receiver.Get()), 1u);
    std::vector<int64_t> sentAt;
    for (uint8_t i = 0; i < 4; ++i) {
        sentAt.push_back(QueryCounter());
        pair.Send(i == 2 ? 300 : 100 + i, i);  // the third is longer than the batch's buffers
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));

    DatagramBatch batch(8, 200);
    ASSERT_EQ(batch.Receive(pair.receiver.Get()), 4u);
    const int64_t receivedAt = QueryCounter();
    for (size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        const BatchedDatagram& datagram = batch[i];
        EXPECT_EQ(datagram.received.source, *pair.sender.LocalEndpoint());
        if (i == 2) {
            EXPECT_TRUE(datagram.received.truncated);
            EXPECT_EQ(datagram.received.fullLength, 300);
            continue;
        }
        EXPECT_EQ(datagram.received.length, static_cast<int64_t>(100 + i));
        EXPECT_EQ(datagram.received.bytes[0], i);
        EXPECT_EQ(datagram.received.bytes[datagram.received.length - 1], i);
        // The clock read after the receive is at least 100 ms late; the kernel's stamp is the
        // sending, on the same counter (a busy host may hold the sending thread a little, and
        // bringing the stamp onto the counter may err by the gap between two clock readings).
        EXPECT_GE(datagram.kernelArrival, sentAt[i] - 1'000'000);
        EXPECT_LT(datagram.kernelArrival - sentAt[i], 30'000'000);
        EXPECT_GT(receivedAt - datagram.kernelArrival, 95'000'000);
    }

    // A shut-down socket ends the receive with nothing.
    UdpSocket::InterruptReceive(pair.receiver.Get());
    EXPECT_EQ(batch.Receive(pair.receiver.Get()), 0u);
}

TEST(DatagramBatch, WithoutKernelStampsTheArrivalIsLeftToTheReceiver) {
    LoopbackPair pair;
    pair.Send(10, 1);
    DatagramBatch batch(1, 64);
    ASSERT_EQ(batch.Receive(pair.receiver.Get()), 1u);
    EXPECT_EQ(batch[0].kernelArrival, kNoKernelStamp);
    EXPECT_EQ(batch[0].received.length, 10);
}

TEST(DatagramBatch, DropsOfAFullReceiveBufferAddUpWithWhatWasReceived) {
    LoopbackPair pair;
    const auto granted = pair.receiver.SetReceiveBufferSize(1);  // the system's least
    ASSERT_TRUE(granted.has_value());
    EXPECT_LT(*granted, 64 * 1024);
    ASSERT_TRUE(pair.receiver.EnableDropCount());
    ASSERT_TRUE(pair.receiver.SetNonBlocking());
    constexpr int kSent = 200;
    for (int i = 0; i < kSent; ++i) {
        pair.Send(1000, 0);
    }
    DatagramBatch batch(16, 2000);
    int64_t received = 0;
    auto drain = [&] {
        for (size_t got; (got = batch.Receive(pair.receiver.Get())) > 0;) {
            received += static_cast<int64_t>(got);
        }
    };
    drain();
    EXPECT_GT(received, 0);
    EXPECT_LT(received, kSent);
    // The first datagrams were queued before any drop: the count comes with a later one.
    pair.Send(1000, 0);
    for (int look = 0; look < 100 && received < 1 + (kSent - batch.HostDrops()); ++look) {
        drain();
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(batch.HostDrops() + received, kSent + 1);

    DatagramBatch fresh(1, 64);
    fresh.RefreshDrops(pair.receiver.Get());  // the same count, read without a datagram
    EXPECT_EQ(fresh.HostDrops(), batch.HostDrops());
}

TEST(DropCount, WidensTheKernelsThirtyTwoBitCountAcrossItsWrap) {
    DropCount count;
    count.Observe(5);
    EXPECT_EQ(count.Total(), 5);
    count.Observe(0xFFFFFFF0u);
    count.Observe(0xFFFFFFF0u);  // told again by another datagram: nothing new
    count.Observe(3);            // wrapped: 19 more
    EXPECT_EQ(count.Total(), 0xFFFFFFF0LL + 19);
}

}  // namespace
