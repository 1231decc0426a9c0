#include "cli/reflector.h"

#include <cstring>
#include <utility>

#include "base/clock.h"
#include "measure/end_of_run.h"
#include "measure/packet_blocks.h"

namespace {

// A counter reading as nanoseconds, in two parts so that no product overflows.
int64_t Nanoseconds(int64_t counter, int64_t frequency) {
    return counter / frequency * 1'000'000'000 + counter % frequency * 1'000'000'000 / frequency;
}

}  // namespace

std::unique_ptr<Reflector> Reflector::Start(const ReflectorSettings& settings, std::string& error) {
    UdpSocket socket = UdpSocket::Open(settings.local);
    int64_t granted = 0;  // the system's default when it refuses
    if (socket.Valid() && settings.receiveBuffer != 0) {
        granted = socket.SetReceiveBufferSize(settings.receiveBuffer).value_or(0);
    }
    const bool ready = socket.Valid() && (!settings.dualStack || socket.SetIpv6Only(false)) &&
                       socket.Bind(settings.local) && socket.SetNonBlocking();
    if (!ready) {
        error =
            "cannot receive on " + BindFailure(settings.local, socket.Valid() ? socket.LastError() : LastSocketError());
        return nullptr;
    }
    auto reflector = std::unique_ptr<Reflector>(new Reflector(settings, std::move(socket)));
    reflector->grantedReceiveBuffer_ = granted;
    return reflector;
}

Reflector::Reflector(const ReflectorSettings& settings, UdpSocket socket)
    : settings_(settings),
      socket_(std::move(socket)),
      answer_(settings.datagramSize),
      sources_(settings.sources, QueryCounterFrequency()) {
    kernelTimestamps_ = socket_.EnableKernelStamps();
    if (const std::optional<Endpoint> bound = socket_.LocalEndpoint()) {
        localPort_ = bound->Port();
    }
    loop_ = std::make_unique<DatagramLoop>(socket_.Get(), settings.datagramSize,
                                           [this](const ReceivedDatagram& datagram) { Take(datagram); });
}

Reflector::~Reflector() {
    Stop();
}

void Reflector::Stop() {
    if (loop_) {
        loop_->Stop();
    }
}

ReflectorCounts Reflector::Counts() {
    const std::lock_guard<std::mutex> lock(mutex_);
    ReflectorCounts counts = counts_;
    counts.sources = static_cast<int64_t>(sources_.Sources());
    return counts;
}

void Reflector::Take(const ReceivedDatagram& datagram) {
    // Checked before the lock: the tag's cost never holds up a report.
    const bool authentic = !settings_.check || (!datagram.truncated && datagram.length >= 0 &&
                                                settings_.check->Authentic(datagram.bytes, datagram.length));
    std::unique_lock<std::mutex> lock(mutex_);
    ++counts_.datagrams;
    if (datagram.truncated) {
        ++counts_.truncated;
        return;
    }
    // A sender's end of run asks for nothing back (keyed, it is too short for a packet's tag).
    if (IsEndOfRun(datagram.bytes, datagram.length)) {
        ++counts_.runEnds;
        return;
    }
    if (!authentic) {
        ++counts_.unauthenticated;
        return;
    }
    // Sources gone quiet make room at most once a second: the sweep visits every source.
    if (CounterDifference(datagram.arrival, lastPrune_) > QueryCounterFrequency()) {
        sources_.ForgetQuiet(datagram.arrival);
        lastPrune_ = datagram.arrival;
    }
    const ReflectorDecision decision = sources_.Take(datagram);
    Count(decision.verdict);
    lock.unlock();
    if (decision.verdict == ReflectorVerdict::Answer) {
        Answer(datagram, decision.packetsFromSource);
    }
}

// Each datagram left unanswered is counted under its reason.
void Reflector::Count(ReflectorVerdict verdict) {
    static constexpr std::pair<ReflectorVerdict, int64_t ReflectorCounts::*> kReasons[] = {
        {ReflectorVerdict::NotTestPacket, &ReflectorCounts::notTestPackets},
        {ReflectorVerdict::AlreadyStamped, &ReflectorCounts::alreadyStamped},
        {ReflectorVerdict::TooShort, &ReflectorCounts::tooShort},
        {ReflectorVerdict::Refused, &ReflectorCounts::refusedSources},
    };
    for (const auto& [reason, count] : kReasons) {
        counts_.*count += reason == verdict ? 1 : 0;
    }
}

// The answer is the packet as it came, with the stamps where its blocks end (the sources' check
// made sure they fit), tagged again over them: never a byte longer.
void Reflector::Answer(const ReceivedDatagram& datagram, int64_t packetsFromSource) {
    const auto length = static_cast<uint32_t>(datagram.length);
    std::memcpy(answer_.data(), datagram.bytes, length);
    const int64_t frequency = QueryCounterFrequency();
    const ReflectorStamps stamps{Nanoseconds(datagram.arrival, frequency), Nanoseconds(QueryCounter(), frequency),
                                 packetsFromSource};
    WriteStampsBlock(answer_.data(), length, stamps);
    if (settings_.retag) {
        settings_.retag->Finish(answer_.data(), length);
    }
    const bool sent = socket_.SendTo(answer_.data(), length, datagram.source) == SendResult::Sent;
    const std::lock_guard<std::mutex> lock(mutex_);
    ++(sent ? counts_.answered : counts_.answersRefused);
}
