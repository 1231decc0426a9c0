// The receiver's per-packet work: one AnalyzeReceivedPacket, and the whole accounting of
// one analysed datagram (reset checks, analysis, publishing to the display's record). Beside
// them, the far end's whole receive path for one analysed datagram: the receiver's own count
// and the session, which may cost at most 1.3 times AnalyzeReceivedPacket alone.

#include <benchmark/benchmark.h>

#include <vector>

#include "base/clock.h"
#include "measure/receiver.h"
#include "measure/receiver_analysis.h"
#include "measure/test_packet.h"
#include "sessions/sample_distribution.h"
#include "sessions/session_table.h"

namespace {

constexpr int64_t kLocalFrequency = 1'000'000'000;

// Groups 10 ms apart by the sender's counter, as received: each packet arrives 5 to 6.8 ms
// after it left, as a path's delays vary. With several calls, packet i of a group leaves
// i / calls of the period after the first, as the calls of a load do. The arrival is the
// receive's own clock reading, taken before any of the work measured here.
class PacketStream {
  public:
    explicit PacketStream(const Endpoint& source = Endpoint::Ipv4(0x7F000001, 5000), int32_t calls = 1)
        : packet_(192), calls_(calls) {
        received_.bytes = packet_.data();
        received_.length = static_cast<int64_t>(packet_.size());
        received_.source = source;
        if (calls > 1) {
            WriteGroupSize(packet_.data(), calls);  // as veltrane-cli's sender states it
        }
    }
    const ReceivedDatagram& Next() {
        const int64_t sentNs = group_ * 10'000'000 + index_ * 10'000'000 / calls_;
        WritePacketHeader(packet_.data(), TestPacketHeader{index_, group_, sentNs / 100, 10'000'000});
        received_.arrival = sentNs + 5'000'000 + (group_ + index_) % 37 * 50'000;
        if (++index_ == calls_) {
            index_ = 0;
            ++group_;
        }
        return received_;
    }

  private:
    std::vector<uint8_t> packet_;
    int32_t calls_;
    ReceivedDatagram received_;
    int64_t group_ = 0;
    int32_t index_ = 0;
};

void AnalyzeOnePacket(benchmark::State& state) {
    ReceiverStatistics statistics;
    PacketStream stream;
    for (auto _ : state) {
        const ReceivedDatagram& received = stream.Next();
        AnalyzeReceivedPacket(statistics, ReadPacketHeader(received.bytes), received.arrival, kLocalFrequency);
        benchmark::DoNotOptimize(statistics.jitterHistogram[200]);
    }
}
BENCHMARK(AnalyzeOnePacket);

void AccountOneAnalysedDatagram(benchmark::State& state) {
    SharedStatistics<ReceiverStatistics> statistics;
    PacketStream stream;
    for (auto _ : state) {
        AccountReceivedDatagram(statistics, stream.Next(), SystemClock(), nullptr);
    }
}
BENCHMARK(AccountOneAnalysedDatagram);

void AccountOneOtherDatagram(benchmark::State& state) {
    SharedStatistics<ReceiverStatistics> statistics;
    PacketStream stream;
    std::vector<uint8_t> packet(192);
    WritePacketHeader(packet.data(), TestPacketHeader{1, 0, 0, 10'000'000});
    ReceivedDatagram received = stream.Next();
    received.bytes = packet.data();
    for (auto _ : state) {
        AccountReceivedDatagram(statistics, received, SystemClock(), nullptr);
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

// The far end's whole work for one analysed datagram: the table's lock and look-up, the
// session's checks, analysis, loss, distributions, RTP jitter and clock skew; to be compared
// with AnalyzeOnePacket. `state.range(0)` senders take turns.
void TakeOneAnalysedDatagram(benchmark::State& state) {
    SessionTable table(SystemClock());
    const auto senders = static_cast<int>(state.range(0));
    std::vector<PacketStream> streams;
    for (int sender = 0; sender < senders; ++sender) {
        streams.emplace_back(Endpoint::Ipv4(0x7F000001, static_cast<uint16_t>(5000 + sender)));
    }
    int turn = 0;
    for (auto _ : state) {
        table.TakeDatagram(streams[static_cast<size_t>(turn)].Next());
        turn = turn + 1 == senders ? 0 : turn + 1;
    }
    benchmark::DoNotOptimize(table.TakeReport(true).sessions.size());
}
BENCHMARK(TakeOneAnalysedDatagram)->Arg(1)->Arg(64);

// The same for a load of 30 calls, where every packet is analysed within its call: at most
// twice TakeOneAnalysedDatagram/1 per datagram.
void TakeOneDatagramOfThirtyCalls(benchmark::State& state) {
    SessionTable table(SystemClock());
    PacketStream stream(Endpoint::Ipv4(0x7F000001, 5000), 30);
    for (auto _ : state) {
        table.TakeDatagram(stream.Next());
    }
    benchmark::DoNotOptimize(table.TakeReport(true).sessions.size());
}
BENCHMARK(TakeOneDatagramOfThirtyCalls);

// What veltrane-cli's receiving thread does with one analysed datagram after the receive:
// the receiver's own count (bytes and marks) and the session. At most 1.3 times
// AnalyzeOnePacket.
void ReceiveOneAnalysedDatagramAtTheFarEnd(benchmark::State& state) {
    SharedStatistics<ReceiverStatistics> statistics;
    SessionTable table(SystemClock());
    PacketStream stream;
    for (auto _ : state) {
        const ReceivedDatagram& received = stream.Next();
        AccountReceivedDatagram(statistics, received, SystemClock(), nullptr, false);
        table.TakeDatagram(received);
    }
    benchmark::DoNotOptimize(table.TakeReport(true).sessions.size());
}
BENCHMARK(ReceiveOneAnalysedDatagramAtTheFarEnd);

// A flood of spoofed sources: each datagram makes a record of a source without a confirmed
// run; at the bound the one heard from least recently is forgotten.
void TakeOneDatagramFromANewSource(benchmark::State& state) {
    SessionTable table(SystemClock());
    PacketStream stream;
    ReceivedDatagram received = stream.Next();
    uint32_t address = 0x0A000000;
    for (auto _ : state) {
        received.source = Endpoint::Ipv4(address++, 9);
        table.TakeDatagram(received);
    }
    benchmark::DoNotOptimize(table.TakeReport(true).droppedSessions);
}
BENCHMARK(TakeOneDatagramFromANewSource);

// One session's first packet of each group and one more packet of the group: index 1, or
// (argument 1) the index 65535 of a forged datagram, which must not cost more than a normal
// one. With `statedSize`, the sender states its group size (2), as veltrane-cli's does;
// without, the size is inferred from the indexes.
void TakeAFirstPacketAndAnother(benchmark::State& state, bool statedSize) {
    SessionTable table(SystemClock());
    PacketStream stream;
    const int32_t index = state.range(0) == 0 ? 1 : 65535;
    std::vector<uint8_t> other(192);
    for (auto _ : state) {
        ReceivedDatagram received = stream.Next();
        if (statedSize) {
            WriteGroupSize(const_cast<uint8_t*>(received.bytes), 2);
            WriteGroupSize(other.data(), 2);
        }
        table.TakeDatagram(received);
        TestPacketHeader header = ReadPacketHeader(received.bytes);
        header.indexInGroup = index;
        WritePacketHeader(other.data(), header);
        received.bytes = other.data();
        table.TakeDatagram(received);
    }
    benchmark::DoNotOptimize(table.TakeReport(true).sessions.size());
}

void TakeAFirstPacketAndAnotherIndex(benchmark::State& state) {
    TakeAFirstPacketAndAnother(state, true);
}
BENCHMARK(TakeAFirstPacketAndAnotherIndex)->Arg(0)->Arg(1);

void TakeAFirstPacketAndAnotherIndexOfAnInferredSize(benchmark::State& state) {
    TakeAFirstPacketAndAnother(state, false);
}
BENCHMARK(TakeAFirstPacketAndAnotherIndexOfAnInferredSize)->Arg(0)->Arg(1);

}  // namespace
