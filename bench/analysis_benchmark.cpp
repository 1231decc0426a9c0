// The receiver's per-packet work: one AnalyzeReceivedPacket, and the whole accounting of
// one analysed datagram (reset checks, analysis, publishing to the display's record). Beside
// them, the run figures of veltrane-cli that an analysed datagram adds: the header check, the
// loss over every packet, the whole-run and interval distributions and the RTP jitter; they
// may cost at most as much again as AnalyzeReceivedPacket alone.

#include <benchmark/benchmark.h>

#include <vector>

#include "base/clock.h"
#include "cli/interarrival_jitter.h"
#include "cli/sample_distribution.h"
#include "measure/loss_accountant.h"
#include "measure/packet_check.h"
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
    int64_t Group() const { return group_ - 1; }

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

// Samples of a few ms that vary as a path's do.
double SampleMs(int64_t group) {
    return 5.0 + static_cast<double>(group % 37) * 0.05;
}

void AddOneWholeRunSample(benchmark::State& state) {
    SampleDistribution distribution;
    int64_t group = 0;
    for (auto _ : state) {
        distribution.Add(SampleMs(++group));
    }
    benchmark::DoNotOptimize(distribution.Summary());
}
BENCHMARK(AddOneWholeRunSample);

// The per-datagram work of a veltrane-cli session: to be compared with AnalyzeOnePacket.
void AnalyzeOnePacketWithRunFigures(benchmark::State& state) {
    ReceiverStatistics statistics;
    PacketStream stream;
    PacketCheck check;
    LossAccountant loss;
    SampleDistribution jitter[2];
    SampleDistribution delay[2];
    InterarrivalJitter rtpJitter;
    for (auto _ : state) {
        const uint8_t* packet = stream.Next();
        if (check.Classify(packet, 192) != DatagramKind::NotTestPacket) {
            AnalyzeReceivedPacket(statistics, packet, SystemClock(), nullptr);
            loss.Add(stream.Group(), 0, ReadGroupSize(packet));
            const double sample = SampleMs(stream.Group());
            for (int i = 0; i < 2; ++i) {
                jitter[i].Add(sample - 5.0);
                delay[i].Add(sample);
            }
            rtpJitter.AddTransit(sample);
        }
        benchmark::DoNotOptimize(statistics.jitterHistogram[200]);
    }
    benchmark::DoNotOptimize(loss.Figures().received);
}
BENCHMARK(AnalyzeOnePacketWithRunFigures);

}  // namespace
