// What signing costs a sender: one test packet sent to a loop-back socket, keyed against
// unkeyed, in the same run, the send system call included. The sink is never read: the
// system drops what overflows its buffer after the whole send path, as for a packet that
// leaves the host. Compare each keyed time with the unkeyed one of the same size.

#include <benchmark/benchmark.h>

#include <memory>
#include <vector>

#include "base/clock.h"
#include "base/socket_library.h"
#include "base/udp_socket.h"
#include "cli/packet_tag.h"
#include "measure/sender.h"
#include "measure/test_packet.h"

namespace {

void SendPackets(benchmark::State& state, bool keyed) {
    const SocketLibrary library;
    UdpSocket sink = UdpSocket::Open(Endpoint());
    UdpSocket socket = UdpSocket::Open(Endpoint());
    if (!sink.Bind(Endpoint::Ipv4(0x7F000001, 0)) || !socket.SetNonBlocking()) {
        state.SkipWithError("no loop-back socket");
        return;
    }
    const Endpoint destination = *sink.LocalEndpoint();
    PacketKey key{};
    key.fill(0x5A);
    const std::shared_ptr<PacketTag> tag = keyed ? PacketTag::Make(key) : nullptr;
    const auto size = static_cast<uint32_t>(state.range(0));
    std::vector<uint8_t> packet(size);
    WriteGroupSize(packet.data(), 100);
    SenderStatistics statistics;
    SendContext context{socket, destination, packet.data(), size, statistics, SystemClock(), nullptr, tag.get()};
    int64_t group = 0;
    for (auto _ : state) {
        SendPacket(context, 0, group++);
    }
    state.counters["refused"] = static_cast<double>(statistics.wouldBlockCount);
}

BENCHMARK_CAPTURE(SendPackets, unkeyed, false)->Arg(48)->Arg(192)->Arg(1400);
BENCHMARK_CAPTURE(SendPackets, keyed, true)->Arg(48)->Arg(192)->Arg(1400);

}  // namespace
