// veltrane-test-relay: a UDP relay on loopback for the end-to-end tests of the far end. It
// forwards every datagram it reads, from its one socket, to 127.0.0.1:--to-port, and on the
// way can police the groups, lose the first test packets or packets at random, lengthen the path
// delay steadily or vary each test packet's at random, move the sender's clock, slip hostile
// datagrams in between the real ones (so that they come from the very address and port of the
// real stream), and go dead for a span of time. What comes back from 127.0.0.1:--to-port (a
// reflector's answers) goes straight back to the latest source, losing --return-loss percent:
// a path with a delay (--delay) and a loss of its own on each way. With --stamps it writes down
// when it took and forwarded each test packet: the truth of the path it made, which a far end's
// figures are checked against. It prints {"listening":PORT} once bound, ends after --duration
// seconds or on SIGTERM/SIGINT, and then prints what it did as one JSON line.

#include <linux/net_tstamp.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <limits>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "base/datagram_batch.h"
#include "base/socket_library.h"
#include "base/udp_socket.h"
#include "measure/end_of_run.h"
#include "measure/test_packet.h"

namespace {

using Instant = std::chrono::steady_clock::time_point;

constexpr uint32_t kLoopback = 0x7F000001;
constexpr double kLongestRunSeconds = 3600;
constexpr size_t kMostHeld = 1'000'000;  // datagrams waiting for their delay: bounds the memory
constexpr int kReceiveBufferBytes = 4 << 20;
constexpr uint32_t kOversizedLength = 2048;

struct RelayOptions {
    uint16_t listenPort = 0;  // 0: the system picks one
    uint16_t toPort = 0;
    double durationSeconds = 10;
    int64_t policeFirst = 0;  // > 0: only the first K datagrams of each group pass
    double lossPercent = 0;
    double returnLossPercent = 0;  // of what comes back from the destination
    double delayMs = 0;            // added to every forwarded datagram's path
    double jitterMs = 0;           // > 0: each test packet's delay varies by a normal sample of this spread
    int64_t loseFirst = 0;         // the first N test packets are lost
    std::string stampsPath;        // not empty: each forwarded test packet's line goes to this file
    uint64_t seed = 1;
    double delayRampPpm = 0;         // the path delay grows by this share of the time since the start
    double clockAheadSeconds = 0;    // added to every test packet's send counter
    int64_t injectEvery = 0;         // > 0: one hostile datagram after every N forwarded ones
    double blackoutFromSeconds = 0;  // from this time since the start ...
    double blackoutSeconds = 0;      // ... for this long, every datagram is dropped
};

enum HostileKind { kFrequencyZero, kFrequencyNegative, kHugeCounters, kRandomHeader, kShort, kOversized, kKinds };
constexpr std::array<const char*, kKinds> kHostileNames = {
    "frequencyZero", "frequencyNegative", "hugeCounters", "randomHeader", "short", "oversized"};

volatile sig_atomic_t stopRequested = 0;

void RequestStop(int) {
    stopRequested = 1;
}

struct OptionRule {
    const char* name;
    double low;
    double high;
    void (*set)(RelayOptions&, double);
};

constexpr OptionRule kOptionRules[] = {
    {"--listen-port", 0, 65535, [](RelayOptions& o, double v) { o.listenPort = static_cast<uint16_t>(v); }},
    {"--to-port", 1, 65535, [](RelayOptions& o, double v) { o.toPort = static_cast<uint16_t>(v); }},
    {"--duration", 0.001, kLongestRunSeconds, [](RelayOptions& o, double v) { o.durationSeconds = v; }},
    {"--police", 1, 1e9, [](RelayOptions& o, double v) { o.policeFirst = static_cast<int64_t>(v); }},
    {"--loss", 0, 100, [](RelayOptions& o, double v) { o.lossPercent = v; }},
    {"--return-loss", 0, 100, [](RelayOptions& o, double v) { o.returnLossPercent = v; }},
    {"--delay", 0, 10000, [](RelayOptions& o, double v) { o.delayMs = v; }},
    {"--jitter-ms", 0, 10000, [](RelayOptions& o, double v) { o.jitterMs = v; }},
    {"--lose-first", 0, 1e15, [](RelayOptions& o, double v) { o.loseFirst = static_cast<int64_t>(v); }},
    {"--seed", 0, 1e15, [](RelayOptions& o, double v) { o.seed = static_cast<uint64_t>(v); }},
    {"--delay-ramp", 0, 1e5, [](RelayOptions& o, double v) { o.delayRampPpm = v; }},
    {"--clock-ahead", -1e6, 1e6, [](RelayOptions& o, double v) { o.clockAheadSeconds = v; }},
    {"--inject-every", 1, 1e9, [](RelayOptions& o, double v) { o.injectEvery = static_cast<int64_t>(v); }},
    {"--blackout-from", 0, kLongestRunSeconds, [](RelayOptions& o, double v) { o.blackoutFromSeconds = v; }},
    {"--blackout-for", 0, kLongestRunSeconds, [](RelayOptions& o, double v) { o.blackoutSeconds = v; }},
};

// The options as "--name number" pairs (--stamps takes a path); false on anything unknown or
// out of range.
bool ParseOptions(int argc, char** argv, RelayOptions& options) {
    for (int i = 1; i < argc; i += 2) {
        if (std::strcmp(argv[i], "--stamps") == 0 && i + 1 < argc) {
            options.stampsPath = argv[i + 1];
            continue;
        }
        const OptionRule* rule = nullptr;
        for (const OptionRule& candidate : kOptionRules) {
            rule = std::strcmp(candidate.name, argv[i]) == 0 ? &candidate : rule;
        }
        char* end = nullptr;
        const double value = i + 1 < argc ? std::strtod(argv[i + 1], &end) : 0;
        if (rule == nullptr || end == nullptr || end == argv[i + 1] || *end != '\0' || !(value >= rule->low) ||
            !(value <= rule->high)) {
            return false;
        }
        rule->set(options, value);
    }
    return options.toPort != 0;
}

// A datagram that no receiver may take for a test packet of the stream whose latest header is
// `latest`, though most of them look much like one.
std::vector<uint8_t> MakeHostile(HostileKind kind, TestPacketHeader header, std::mt19937_64& random) {
    std::vector<uint8_t> packet(kPacketHeaderSize);
    header.indexInGroup = 0;
    switch (kind) {
        case kFrequencyZero:
            header.counterFrequency = 0;
            break;
        case kFrequencyNegative:
            header.counterFrequency = -(header.counterFrequency > 0 ? header.counterFrequency : 1);
            break;
        case kHugeCounters:
            // Far beyond any group number a run reaches, and different each time, so that no
            // three of them agree on a jump.
            header.groupNumber = std::numeric_limits<int64_t>::max() - static_cast<int64_t>(random() % 4096);
            header.sendCounter = std::numeric_limits<int64_t>::max() - static_cast<int64_t>(random() % 4096);
            break;
        case kRandomHeader:
            for (uint8_t& byte : packet) {
                byte = static_cast<uint8_t>(random());
            }
            header = ReadPacketHeader(packet.data());
            header.indexInGroup = 0;
            break;
        default:
            break;
    }
    WritePacketHeader(packet.data(), header);
    if (kind == kShort) {
        packet.resize(kPacketHeaderSize - 1);
    } else if (kind == kOversized) {
        packet.resize(kOversizedLength);
    }
    return packet;
}

using File = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

int64_t Nanoseconds(Instant instant) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(instant.time_since_epoch()).count();
}

// The kernel's stamp of each datagram as it leaves the socket, read back from its error queue.
// On loop-back the destination's kernel stamps the arrival about a microsecond later, where a
// clock read just before the send is some microseconds earlier, and tens on a first, cold send.
bool EnableSendStamps(int socket) {
    const int flags = SOF_TIMESTAMPING_TX_SOFTWARE | SOF_TIMESTAMPING_SOFTWARE | SOF_TIMESTAMPING_OPT_TSONLY;
    return setsockopt(socket, SOL_SOCKET, SO_TIMESTAMPING, &flags, sizeof(flags)) == 0;
}

// The latest send stamp on the socket's error queue, on the monotonic clock; empties the queue,
// which would otherwise wake every poll.
std::optional<Instant> TakeSendStamp(int socket) {
    std::optional<timespec> latest;
    for (;;) {
        alignas(cmsghdr) unsigned char control[256];
        msghdr message{};
        message.msg_control = control;
        message.msg_controllen = sizeof(control);
        if (recvmsg(socket, &message, MSG_ERRQUEUE | MSG_DONTWAIT) < 0) {
            break;
        }
        for (cmsghdr* item = CMSG_FIRSTHDR(&message); item != nullptr; item = CMSG_NXTHDR(&message, item)) {
            if (item->cmsg_level == SOL_SOCKET && item->cmsg_type == SCM_TIMESTAMPING) {
                std::array<timespec, 3> stamps{};  // software, (deprecated), hardware
                std::memcpy(stamps.data(), CMSG_DATA(item), sizeof(stamps));
                latest = stamps[0];
            }
        }
    }
    if (!latest) {
        return std::nullopt;
    }
    // The stamp is on the real-time clock: only how long ago it was is read from that clock.
    const auto ago = std::chrono::system_clock::now().time_since_epoch() -
                     (std::chrono::seconds(latest->tv_sec) + std::chrono::nanoseconds(latest->tv_nsec));
    return std::chrono::steady_clock::now() - std::chrono::duration_cast<std::chrono::steady_clock::duration>(ago);
}

class Relay {
  public:
    // `stamps`: where each forwarded test packet's line goes; none: nowhere.
    Relay(const RelayOptions& options, UdpSocket& socket, Instant start, std::FILE* stamps)
        : options_(options),
          socket_(socket),
          destination_(Endpoint::Ipv4(kLoopback, options.toPort)),
          start_(start),
          random_(options.seed),
          stamps_(stamps),
          sendStamps_(stamps != nullptr && EnableSendStamps(socket.Get())) {}

    void Take(std::vector<uint8_t> datagram, Instant arrival) {
        ++received_;
        if (DeadAt(arrival) || !Passes(datagram)) {
            ++dropped_;
            // Told apart from the short datagrams (a run's end): a round trip counts packets.
            droppedPackets_ += datagram.size() >= kPacketHeaderSize ? 1 : 0;
            return;
        }
        MoveClock(datagram);
        if (options_.delayRampPpm == 0 && options_.delayMs == 0 && options_.jitterMs == 0) {
            Forward(datagram, arrival);
            return;
        }
        if (held_.size() >= kMostHeld) {
            ++dropped_;
            return;
        }
        const Instant release = arrival + DelayOf(datagram, arrival);
        // A steady or growing delay keeps the arrival order; a varying one may send a datagram
        // ahead of one that came before it, as a real path may.
        const auto later = std::upper_bound(held_.begin(), held_.end(), release,
                                            [](Instant at, const Held& held) { return at < held.release; });
        held_.insert(later, Held{release, arrival, std::move(datagram)});
    }

    // A datagram from the destination: straight back to the latest source, or lost.
    void TakeReturn(const std::vector<uint8_t>& datagram, const Endpoint& to) {
        if (options_.returnLossPercent > 0 &&
            std::uniform_real_distribution<double>(0, 100)(random_) < options_.returnLossPercent) {
            ++returnDropped_;
            return;
        }
        returned_ += SendTo(datagram, to) ? 1 : 0;
    }

    const Endpoint& Destination() const { return destination_; }

    void ReleaseDue(Instant now) {
        while (!held_.empty() && held_.front().release <= now) {
            Forward(held_.front().datagram, held_.front().arrival);
            held_.pop_front();
        }
    }

    std::optional<Instant> NextRelease() const {
        return held_.empty() ? std::nullopt : std::optional<Instant>(held_.front().release);
    }

    // `realTime`: whether it ran as SCHED_FIFO, so that its stamps are to be trusted.
    void PrintCounts(bool realTime) const {
        std::string injected;
        int64_t total = 0;
        for (int kind = 0; kind < kKinds; ++kind) {
            injected += "\"" + std::string(kHostileNames[kind]) + "\":" + std::to_string(injected_[kind]) + ",";
            total += injected_[kind];
        }
        std::printf("{\"received\":%" PRId64 ",\"forwarded\":%" PRId64 ",\"dropped\":%" PRId64
                    ",\"unsent\":%zu,\"sendFailures\":%" PRId64 ",\"droppedPackets\":%" PRId64 ",\"returned\":%" PRId64
                    ",\"returnDropped\":%" PRId64 ",\"injected\":{%s\"total\":%" PRId64 "},\"realTime\":%s}\n",
                    received_, forwarded_, dropped_, held_.size(), sendFailures_, droppedPackets_, returned_,
                    returnDropped_, injected.c_str(), total, realTime ? "true" : "false");
        std::fflush(stdout);
    }

  private:
    struct Held {
        Instant release;
        Instant arrival;
        std::vector<uint8_t> datagram;
    };

    // The path's delay for a datagram that arrived at `arrival`, never below 0.
    std::chrono::steady_clock::duration DelayOf(const std::vector<uint8_t>& datagram, Instant arrival) {
        std::chrono::duration<double, std::milli> delay((arrival - start_) * (options_.delayRampPpm * 1e-6));
        delay += std::chrono::duration<double, std::milli>(options_.delayMs);
        if (options_.jitterMs > 0 && datagram.size() >= kPacketHeaderSize) {
            delay += std::chrono::duration<double, std::milli>(normal_(random_) * options_.jitterMs);
        }
        return std::chrono::duration_cast<std::chrono::steady_clock::duration>(
            std::max(delay, std::chrono::duration<double, std::milli>(0)));
    }

    bool DeadAt(Instant arrival) const {
        const double seconds = std::chrono::duration<double>(arrival - start_).count();
        return seconds >= options_.blackoutFromSeconds &&
               seconds < options_.blackoutFromSeconds + options_.blackoutSeconds;
    }

    bool Passes(const std::vector<uint8_t>& datagram) {
        if (datagram.size() >= kPacketHeaderSize && testPacketsTaken_++ < options_.loseFirst) {
            return false;
        }
        if (options_.policeFirst > 0 && datagram.size() >= kPacketHeaderSize) {
            const int64_t group = ReadPacketHeader(datagram.data()).groupNumber;
            if (!policedGroup_ || *policedGroup_ != group) {
                policedGroup_ = group;
                passedOfGroup_ = 0;
            }
            if (++passedOfGroup_ > options_.policeFirst) {
                return false;
            }
        }
        return options_.lossPercent == 0 ||
               std::uniform_real_distribution<double>(0, 100)(random_) >= options_.lossPercent;
    }

    void MoveClock(std::vector<uint8_t>& datagram) {
        // The sender's end of run carries its counter too, which moves with its packets'.
        std::optional<EndOfRun> end = ReadEndOfRun(datagram.data(), static_cast<int64_t>(datagram.size()));
        if (end && options_.clockAheadSeconds != 0 && latest_.counterFrequency > 0) {
            end->sendCounter += static_cast<int64_t>(options_.clockAheadSeconds * latest_.counterFrequency);
            WriteEndOfRun(datagram.data(), *end);
        }
        if (datagram.size() < kPacketHeaderSize) {
            return;
        }
        TestPacketHeader header = ReadPacketHeader(datagram.data());
        if (header.counterFrequency > 0 && options_.clockAheadSeconds != 0) {
            header.sendCounter += static_cast<int64_t>(options_.clockAheadSeconds * header.counterFrequency);
            WritePacketHeader(datagram.data(), header);
        }
        latest_ = header;
    }

    void Forward(const std::vector<uint8_t>& datagram, Instant arrival) {
        if (const std::optional<Instant> sent = SendTo(datagram, destination_)) {
            ++forwarded_;
            Stamp(datagram, arrival, *sent);
        } else {
            ++sendFailures_;
        }
        if (options_.injectEvery > 0 && ++sinceInjection_ >= options_.injectEvery) {
            sinceInjection_ = 0;
            const auto kind = static_cast<HostileKind>(nextKind_++ % kKinds);
            if (SendTo(MakeHostile(kind, latest_, random_), destination_)) {
                ++injected_[kind];
            }
        }
    }

    // One line per forwarded test packet, as it left: group number, index, send counter,
    // length, and the monotonic nanoseconds of its arrival at the relay and of its leaving.
    void Stamp(const std::vector<uint8_t>& datagram, Instant arrival, Instant sending) {
        if (stamps_ == nullptr || datagram.size() < kPacketHeaderSize) {
            return;
        }
        const TestPacketHeader header = ReadPacketHeader(datagram.data());
        std::fprintf(stamps_, "%" PRId64 " %" PRId32 " %" PRId64 " %zu %" PRId64 " %" PRId64 "\n", header.groupNumber,
                     header.indexInGroup, header.sendCounter, datagram.size(), Nanoseconds(arrival),
                     Nanoseconds(sending));
    }

    // When the datagram left, if it was sent: the kernel's stamp where the socket gives one,
    // else the clock just before the send.
    std::optional<Instant> SendTo(const std::vector<uint8_t>& datagram, const Endpoint& to) {
        const Instant before = std::chrono::steady_clock::now();
        if (socket_.SendTo(datagram.data(), static_cast<uint32_t>(datagram.size()), to) != SendResult::Sent) {
            return std::nullopt;
        }
        return sendStamps_ ? TakeSendStamp(socket_.Get()).value_or(before) : before;
    }

    const RelayOptions options_;
    UdpSocket& socket_;
    const Endpoint destination_;
    const Instant start_;
    std::mt19937_64 random_;
    std::normal_distribution<double> normal_;
    std::FILE* stamps_;
    const bool sendStamps_;
    std::deque<Held> held_;
    int64_t testPacketsTaken_ = 0;
    std::optional<int64_t> policedGroup_;
    int64_t passedOfGroup_ = 0;
    TestPacketHeader latest_;
    int64_t sinceInjection_ = 0;
    int nextKind_ = 0;
    int64_t received_ = 0;
    int64_t forwarded_ = 0;
    int64_t dropped_ = 0;
    int64_t sendFailures_ = 0;
    int64_t droppedPackets_ = 0;
    int64_t returned_ = 0;
    int64_t returnDropped_ = 0;
    std::array<int64_t, kKinds> injected_{};
};

timespec Until(Instant now, Instant then) {
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(then > now ? then - now : now - now).count();
    return timespec{static_cast<time_t>(ns / 1'000'000'000), static_cast<long>(ns % 1'000'000'000)};
}

// Relays until the deadline or a stop signal; the signals are blocked but inside the wait.
void Run(const RelayOptions& options, UdpSocket& socket, const sigset_t& waitMask, std::FILE* stamps, bool realTime) {
    const Instant start = std::chrono::steady_clock::now();
    const Instant deadline = start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                                         std::chrono::duration<double>(options.durationSeconds));
    Relay relay(options, socket, start, stamps);
    // The kernel's stamp of each arrival: a delay then runs from when the datagram came, not from
    // when the relay woke up for it.
    DatagramBatch batch(64, 65536);
    Endpoint client;  // the latest source other than the destination
    for (Instant now = start; now < deadline && !stopRequested; now = std::chrono::steady_clock::now()) {
        const Instant wake = relay.NextRelease() ? std::min(*relay.NextRelease(), deadline) : deadline;
        const timespec timeout = Until(now, wake);
        pollfd readable{socket.Get(), POLLIN, 0};
        if (ppoll(&readable, 1, &timeout, &waitMask) > 0) {
            for (size_t count; (count = batch.Receive(socket.Get())) > 0;) {
                const Instant woken = std::chrono::steady_clock::now();
                for (size_t i = 0; i < count; ++i) {
                    const ReceivedDatagram& received = batch[i].received;
                    if (received.length < 0) {
                        continue;  // longer than any datagram: cannot happen with this buffer
                    }
                    std::vector<uint8_t> datagram(received.bytes, received.bytes + received.length);
                    if (received.source == relay.Destination()) {
                        relay.TakeReturn(datagram, client);
                        continue;
                    }
                    client = received.source;
                    const int64_t stamp = batch[i].kernelArrival;
                    relay.Take(std::move(datagram),
                               stamp == kNoKernelStamp ? woken : Instant(std::chrono::nanoseconds(stamp)));
                }
            }
        }
        relay.ReleaseDue(std::chrono::steady_clock::now());
    }
    relay.PrintCounts(realTime);
}

}  // namespace

int main(int argc, char** argv) {
    RelayOptions options;
    if (!ParseOptions(argc, argv, options)) {
        std::fprintf(stderr,
                     "usage: veltrane-test-relay --to-port PORT [--listen-port PORT] [--duration S] [--police K]\n"
                     "       [--loss PERCENT] [--return-loss PERCENT] [--delay MS] [--seed N] [--delay-ramp PPM]\n"
                     "       [--clock-ahead S] [--inject-every N] [--blackout-from S --blackout-for S]\n"
                     "       [--jitter-ms SD] [--lose-first N] [--stamps FILE]\n");
        return 2;
    }
    File stamps(nullptr, std::fclose);
    if (!options.stampsPath.empty()) {
        stamps.reset(std::fopen(options.stampsPath.c_str(), "w"));
        if (!stamps) {
            std::fprintf(stderr, "veltrane-test-relay: cannot write %s\n", options.stampsPath.c_str());
            return 1;
        }
    }
    // On time whatever else the host runs, where the system allows it (as root): a relay that
    // waits for the scheduler adds its own delay to single packets, and its counts and stamps
    // are the tests' truth. Elsewhere it runs as any process does.
    const sched_param realTimePriority{50};
    const bool realTime = sched_setscheduler(0, SCHED_FIFO, &realTimePriority) == 0;
    sigset_t stopSignals;
    sigset_t waitMask;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    sigprocmask(SIG_BLOCK, &stopSignals, &waitMask);
    struct sigaction action {};
    action.sa_handler = RequestStop;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
    // The default slack of 50 us would blur the steady growth of the delay.
    prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);

    SocketLibrary library;
    UdpSocket socket = UdpSocket::Open(Endpoint());
    const int bufferBytes = kReceiveBufferBytes;
    setsockopt(socket.Get(), SOL_SOCKET, SO_RCVBUF, &bufferBytes, sizeof(bufferBytes));
    socket.EnableKernelStamps();
    if (!socket.Bind(Endpoint::Ipv4(kLoopback, options.listenPort)) || !socket.SetNonBlocking()) {
        std::fprintf(stderr, "veltrane-test-relay: cannot bind 127.0.0.1:%u\n", options.listenPort);
        return 1;
    }
    std::printf("{\"listening\":%u}\n", socket.LocalEndpoint()->Port());
    std::fflush(stdout);
    Run(options, socket, waitMask, stamps.get(), realTime);
    return 0;
}
