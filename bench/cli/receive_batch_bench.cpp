// The receiving thread's CPU time per datagram at the flood rate: batched receives (up to 64
// datagrams a call) against one receive per datagram, in the same run.
//
// Each round fills a socket's 4 MiB buffer with datagrams of the default size, as a flood
// leaves it when the receiving thread falls behind, then takes them all out: with one batch
// after another, or with one plain receive each. Only the receiving thread's own CPU time
// counts. The rounds alternate so that a busy moment of the machine does not fall on one side
// only; the ratio of the medians is the figure to watch.
//
// usage: veltrane_receive_batch_bench [ROUNDS]

#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "base/datagram_batch.h"
#include "base/socket_library.h"
#include "base/udp_socket.h"
#include "measure/default_settings.h"
#include "measure/receiver.h"

namespace {

constexpr uint32_t kLoopback = 0x7F000001;
constexpr int kDatagramsPerRound = 3000;  // well within the buffer: none dropped
constexpr uint32_t kSize = DefaultSettings::kPacketSize;

double ThreadCpuNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) * 1e9 + static_cast<double>(now.tv_nsec);
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

struct Pair {
    Pair() {
        receiver = UdpSocket::Open(Endpoint());
        sender = UdpSocket::Open(Endpoint());
        receiver.SetReceiveBufferSize(4 << 20);
        if (!receiver.Bind(Endpoint::Ipv4(kLoopback, 0)) || !receiver.EnableKernelStamps() ||
            !receiver.EnableDropCount()) {
            std::fprintf(stderr, "cannot set up the receiving socket\n");
            std::exit(1);
        }
        to = *receiver.LocalEndpoint();
    }
    void Fill() {
        std::vector<uint8_t> bytes(kSize, 1);
        for (int i = 0; i < kDatagramsPerRound; ++i) {
            sender.SendTo(bytes.data(), kSize, to);
        }
    }
    SocketLibrary library;
    UdpSocket receiver;
    UdpSocket sender;
    Endpoint to;
};

// CPU ns per datagram to take one round out; `batch` null: one plain receive each.
double TakeRound(Pair& pair, DatagramBatch* batch, std::vector<uint8_t>& buffer) {
    pair.Fill();
    const double start = ThreadCpuNanoseconds();
    int taken = 0;
    while (taken < kDatagramsPerRound) {
        if (batch != nullptr) {
            taken += static_cast<int>(batch->Receive(pair.receiver.Get()));
        } else {
            taken += UdpSocket::ReceiveOn(pair.receiver.Get(), buffer.data(), kSize).length >= 0 ? 1 : 0;
        }
    }
    return (ThreadCpuNanoseconds() - start) / kDatagramsPerRound;
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 21;
    Pair pair;
    DatagramBatch batch(BatchCapacity(kSize), kSize);
    std::vector<uint8_t> buffer(kSize);
    std::vector<double> batched;
    std::vector<double> single;
    for (int round = 0; round < rounds; ++round) {
        batched.push_back(TakeRound(pair, &batch, buffer));
        single.push_back(TakeRound(pair, nullptr, buffer));
    }
    const double batchedNs = Median(batched);
    const double singleNs = Median(single);
    std::printf(
        "receiving thread CPU per datagram, median of %d rounds of %d: batched %.0f ns, one at a time %.0f "
        "ns, ratio %.2f; host drops %lld\n",
        rounds, kDatagramsPerRound, batchedNs, singleNs, batchedNs / singleNs,
        static_cast<long long>(batch.HostDrops()));
    return 0;
}
