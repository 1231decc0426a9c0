// The receiver's per-packet work: one AnalyzeReceivedPacket, and the whole accounting of
// one analysed datagram (reset checks, analysis, publishing to the display's record).

#include <benchmark/benchmark.h>

#include <vector>

#include "base/clock.h"
#include "measure/receiver.h"
#include "measure/receiver_analysis.h"
#include "measure/test_packet.h"

namespace {

// Packets 10 ms apart by the sender's counter, analysed with the real clock.
class PacketStream {
  public:
    PacketStream() : packet_(192) {}
    const uint8_t* Next() {
        WritePacketHeader(packet_.data(), TestPacketHeader{0, group_, group_ * 100'000, 10'000'000});
        ++group_;
        return packet_.data();
    }

  private:
    std::vector<uint8_t> packet_;
    int64_t group_ = 0;
};

void AnalyzeOnePacket(benchmark::State& state) {
    ReceiverStatistics statistics;
    PacketStream stream;
    for (auto _ : state) {
        AnalyzeReceivedPacket(statistics, stream.Next(), SystemClock(), nullptr);
        benchmark::DoNotOptimize(statistics.jitterHistogram[200]);
    }
}
BENCHMARK(AnalyzeOnePacket);

void AccountOneAnalysedDatagram(benchmark::State& state) {
    SharedStatistics<ReceiverStatistics> statistics;
    PacketStream stream;
    for (auto _ : state) {
        AccountReceivedDatagram(statistics, stream.Next(), 192, SystemClock(), nullptr);
    }
}
BENCHMARK(AccountOneAnalysedDatagram);

void AccountOneOtherDatagram(benchmark::State& state) {
    SharedStatistics<ReceiverStatistics> statistics;
    std::vector<uint8_t> packet(192);
    WritePacketHeader(packet.data(), TestPacketHeader{1, 0, 0, 10'000'000});
    for (auto _ : state) {
        AccountReceivedDatagram(statistics, packet.data(), 192, SystemClock(), nullptr);
    }
}
BENCHMARK(AccountOneOtherDatagram);

}  // namespace
