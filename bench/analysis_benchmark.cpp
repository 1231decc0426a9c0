// The receiver's per-packet work: one AnalyzeReceivedPacket, and the whole accounting of
// one analysed datagram (reset checks, analysis, publishing to the display's record). Beside
// them, the run figures of veltrane-cli that an analysed datagram adds: the header check, the
// loss over every packet, the whole-run and interval distributions and the RTP jitter; they
// may cost at most as much again as AnalyzeReceivedPacket alone.

#include <benchmark/benchmark.h>

#include <vector>

#include "base/clock.h"
#include "measure/packet_check.h"
#include "measure/receiver.h"
#include "measure/receiver_analysis.h"
#include "measure/test_packet.h"
#include "sessions/interarrival_jitter.h"
#include "sessions/loss_accountant.h"
#include "sessions/sample_distribution.h"
#include "sessions/session_table.h"

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
        if (check.Classify(packet, 192, QueryCounter(), QueryCounterFrequency()) != DatagramKind::NotTestPacket) {
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

// The far end's whole work for one analysed datagram: the table's lock and look-up, the
// session's checks, analysis, loss, distributions, RTP jitter and clock skew; to be compared
// with AnalyzeOnePacket (at most twice its cost). `state.range(0)` senders take turns.
void TakeOneAnalysedDatagram(benchmark::State& state) {
    SessionTable table(SystemClock());
    const auto senders = static_cast<int>(state.range(0));
    std::vector<PacketStream> streams(static_cast<size_t>(senders));
    std::vector<Endpoint> sources;
    for (int sender = 0; sender < senders; ++sender) {
        sources.push_back(Endpoint::Ipv4(0x7F000001, static_cast<uint16_t>(5000 + sender)));
    }
    int turn = 0;
    for (auto _ : state) {
        const auto index = static_cast<size_t>(turn);
        table.TakeDatagram(streams[index].Next(), 192, sources[index], -1);
        turn = turn + 1 == senders ? 0 : turn + 1;
    }
    benchmark::DoNotOptimize(table.TakeReport(true).sessions.size());
}
BENCHMARK(TakeOneAnalysedDatagram)->Arg(1)->Arg(64);

// A flood of spoofed sources at the bound: each datagram starts a session and pushes the
// oldest idle one out.
void TakeOneDatagramFromANewSource(benchmark::State& state) {
    SessionTable table(SystemClock());
    PacketStream stream;
    uint32_t address = 0x0A000000;
    for (auto _ : state) {
        table.TakeDatagram(stream.Next(), 192, Endpoint::Ipv4(address++, 9), -1);
    }
    benchmark::DoNotOptimize(table.TakeReport(true).droppedSessions);
}
BENCHMARK(TakeOneDatagramFromANewSource);

}  // namespace
