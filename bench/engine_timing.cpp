// Timings of the measuring engine that also run under Wine:
//  1. the cost of one AnalyzeReceivedPacket;
//  2. the sender engine's packet rate on loopback beside a plain send loop of the same
//     datagram size from the same kind of non-blocking socket, as a ratio.
// Both senders aim at a port on 127.0.0.1 that nobody reads, so receiving costs nothing.
// The rounds alternate, so that a busy moment of the machine does not fall on one side only,
// and the median ratio is reported.
//
// usage: veltrane_engine_timing [MS_PER_ROUND] [ROUNDS] [PACKET_SIZE]

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

#include "base/clock.h"
#include "base/errors.h"
#include "base/socket_library.h"
#include "base/udp_socket.h"
#include "measure/receiver_analysis.h"
#include "measure/sender.h"
#include "measure/test_packet.h"

namespace {

using SteadyClock = std::chrono::steady_clock;

double SecondsSince(SteadyClock::time_point start) {
    return std::chrono::duration<double>(SteadyClock::now() - start).count();
}

double AnalysisNanoseconds() {
    ReceiverStatistics statistics;
    std::vector<uint8_t> packet(192);
    constexpr int kPackets = 200'000;
    const auto start = SteadyClock::now();
    for (int64_t group = 0; group < kPackets; ++group) {
        WritePacketHeader(packet.data(), TestPacketHeader{0, group, group * 100'000, 10'000'000});
        AnalyzeReceivedPacket(statistics, ReadPacketHeader(packet.data()), QueryCounter(), QueryCounterFrequency());
    }
    const double seconds = SecondsSince(start);
    return statistics.analysedCount == kPackets ? seconds / kPackets * 1e9 : 0;
}

// Send attempts per second of a plain loop.
double PlainLoopRate(const Endpoint& destination, uint32_t packetSize, double seconds) {
    UdpSocket socket = UdpSocket::Open(destination);
    socket.SetNonBlocking();
    std::vector<uint8_t> packet(packetSize);
    int64_t attempts = 0;
    const auto start = SteadyClock::now();
    double elapsed = 0;
    while ((elapsed = SecondsSince(start)) < seconds) {
        for (int i = 0; i < 1000; ++i) {
            socket.SendTo(packet.data(), packetSize, destination);
        }
        attempts += 1000;
    }
    return static_cast<double>(attempts) / elapsed;
}

class QuietObserver : public SenderObserver {
  public:
    void ReportError(Exception* e) override {
        std::fprintf(stderr, "%s\n", e->message);
        std::exit(1);
    }
    void ReportUnknownError(const char* text) override {
        std::fprintf(stderr, "%s\n", text);
        std::exit(1);
    }
    void DisplaySenderStatistics(const SenderStatistics&, uint32_t, uint64_t) override {}
};

int64_t Attempts(const Sender& sender) {
    const SenderStatistics s = sender.Statistics();
    return s.sentPackets + s.wouldBlockCount;
}

// Waits for the engine's next publish and notes when it came: the engine publishes once per
// group, so a figure read at an arbitrary moment is up to a group old.
int64_t NextPublish(const Sender& sender, SteadyClock::time_point& seenAt) {
    const int64_t previous = Attempts(sender);
    for (;;) {
        const int64_t attempts = Attempts(sender);
        if (attempts != previous) {
            seenAt = SteadyClock::now();
            return attempts;
        }
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
}

// Send attempts per second of the sender engine, groups of 1000 back to back, timed from
// one group's publish to another's, so that the figure does not depend on the round length.
double EngineRate(const Endpoint& destination, uint32_t packetSize, double seconds) {
    QuietObserver observer;
    Sender sender(observer);
    SenderSettings settings;
    settings.destination = destination;
    settings.packetSize = packetSize;
    settings.periodMs = 0;
    settings.packetsPerPeriod = 1000;
    sender.Start(settings);
    SteadyClock::time_point start;
    SteadyClock::time_point end;
    const int64_t first = NextPublish(sender, start);
    SleepMs(static_cast<uint32_t>(seconds * 1000));
    const int64_t last = NextPublish(sender, end);
    sender.Stop();
    return static_cast<double>(last - first) / std::chrono::duration<double>(end - start).count();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = (argc > 1 ? std::atof(argv[1]) : 500) / 1000.0;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
    const uint32_t packetSize = EffectivePacketSize(argc > 3 ? static_cast<uint32_t>(std::atoi(argv[3])) : 192);
    if (seconds <= 0 || rounds <= 0) {
        std::fprintf(stderr, "usage: veltrane_engine_timing [MS_PER_ROUND] [ROUNDS] [PACKET_SIZE]\n");
        return 2;
    }

    std::printf("AnalyzeReceivedPacket: %.1f ns per packet\n", AnalysisNanoseconds());

    SocketLibrary library;
    UdpSocket sink = UdpSocket::Open(Endpoint());
    if (!library.Started() || !sink.Bind(Endpoint::Ipv4(0x7F000001, 0))) {
        std::fprintf(stderr, "cannot bind the sink socket\n");
        return 1;
    }
    const Endpoint destination = *sink.LocalEndpoint();
    std::vector<double> plainRates, engineRates, ratios;
    for (int round = 0; round < rounds; ++round) {
        const double plain = PlainLoopRate(destination, packetSize, seconds);
        const double engine = EngineRate(destination, packetSize, seconds);
        plainRates.push_back(plain);
        engineRates.push_back(engine);
        ratios.push_back(engine / plain);
    }
    std::printf("packet size %u bytes, %d rounds of %.2f s each (medians):\n", packetSize, rounds, seconds);
    std::printf("  plain send loop: %.0f packets/s (%.2f us per send)\n", Median(plainRates), 1e6 / Median(plainRates));
    std::printf("  sender engine:   %.0f packets/s (%.2f us per send)\n", Median(engineRates),
                1e6 / Median(engineRates));
    std::printf("  engine / plain:  %.3f\n", Median(ratios));
    return 0;
}
