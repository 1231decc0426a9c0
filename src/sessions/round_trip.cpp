#include "sessions/round_trip.h"

#include <algorithm>

#include "base/clock.h"
#include "measure/packet_blocks.h"
#include "measure/test_packet.h"

namespace {

constexpr double kNsPerMs = 1e6;

}  // namespace

struct RoundTripAnalysis::Echo {
    int64_t sequence = 0;
    int64_t reflected = 0;   // the reflector's count
    double roundTripMs = 0;  // turnaround taken out
    double turnaroundMs = 0;
    double forwardMs = 0;  // one-way delays on two unrelated clocks: only their changes mean anything
    double returnMs = 0;
};

void RoundTripAnalysis::Window::Absorb(const Window& part) {
    roundTrip.Absorb(part.roundTrip);
    turnaround.Absorb(part.turnaround);
    forward.Absorb(part.forward);
    back.Absorb(part.back);
}

void RoundTripAnalysis::Window::Reset() {
    roundTrip.Reset();
    turnaround.Reset();
    forward.Reset();
    back.Reset();
}

RoundTripAnalysis::RoundTripAnalysis(const Endpoint& from, std::shared_ptr<const SentPacketLog> log, int64_t frequency)
    : from_(from.Unmapped()), log_(std::move(log)), frequency_(frequency) {}

void RoundTripAnalysis::Take(const ReceivedDatagram& datagram) {
    const std::optional<Echo> echo = Check(datagram);
    if (!echo) {
        ++counts_.refusedEchoes;
        return;
    }
    if (!Fresh(echo->sequence)) {
        ++counts_.duplicateEchoes;
        return;
    }
    Count(*echo);
    // The whole run's distributions take each interval's at its report (TakeReport).
    interval_.roundTrip.Add(echo->roundTripMs);
    interval_.turnaround.Add(echo->turnaroundMs);
    const double forward = echo->forwardMs - firstForwardMs_.value_or(echo->forwardMs);
    const double back = echo->returnMs - firstReturnMs_.value_or(echo->returnMs);
    firstForwardMs_ = firstForwardMs_.value_or(echo->forwardMs);
    firstReturnMs_ = firstReturnMs_.value_or(echo->returnMs);
    leastForwardMs_ = std::min(leastForwardMs_, forward);
    leastReturnMs_ = std::min(leastReturnMs_, back);
    const BinnedSample forwardSample(forward);
    interval_.forward.Add(forwardSample);
    interval_.back.Add(back);
    forwardLateness_.Add(forwardSample);
}

// An echo of a packet this run sent, from the reflector, with stamps that fit the time it took.
std::optional<RoundTripAnalysis::Echo> RoundTripAnalysis::Check(const ReceivedDatagram& datagram) const {
    if (datagram.truncated || datagram.length < static_cast<int64_t>(kStampedPacketMinSize) ||
        datagram.source.Unmapped() != from_) {
        return std::nullopt;
    }
    const TestPacketHeader header = ReadPacketHeader(datagram.bytes);
    const int32_t groupSize = log_->GroupSize();
    if (header.counterFrequency != frequency_ || header.indexInGroup < 0 || header.indexInGroup >= groupSize ||
        header.groupNumber < 0 || header.groupNumber > INT64_MAX / groupSize - 1) {
        return std::nullopt;
    }
    const int64_t sequence = header.groupNumber * groupSize + header.indexInGroup;
    const std::optional<ReflectorStamps> stamps =
        ReadStampsBlock(datagram.bytes, static_cast<uint32_t>(datagram.length));
    if (!stamps || !log_->Sent(sequence, header.sendCounter)) {
        return std::nullopt;
    }
    const double totalMs = ElapsedMs(header.sendCounter, datagram.arrival, frequency_);
    const double turnaroundMs = static_cast<double>(stamps->sentNs - stamps->receivedNs) / kNsPerMs;
    // The reflector cannot have held the packet longer than it was away, nor counted more
    // packets than were sent (each counted once) up to this one.
    if (!(totalMs >= 0) || !(turnaroundMs >= 0) || turnaroundMs > totalMs || stamps->packetsFromSource < 1 ||
        stamps->packetsFromSource > sequence + 1) {
        return std::nullopt;
    }
    const double sentMs = static_cast<double>(header.sendCounter) * 1000 / static_cast<double>(frequency_);
    const double arrivedMs = static_cast<double>(datagram.arrival) * 1000 / static_cast<double>(frequency_);
    return Echo{sequence,
                stamps->packetsFromSource,
                totalMs - turnaroundMs,
                turnaroundMs,
                static_cast<double>(stamps->receivedNs) / kNsPerMs - sentMs,
                arrivedMs - static_cast<double>(stamps->sentNs) / kNsPerMs};
}

// Whether this is the first echo of `sequence`; the log refuses any older than the window.
bool RoundTripAnalysis::Fresh(int64_t sequence) {
    const auto slot = [](int64_t s) { return static_cast<size_t>(s % kSentPacketsRemembered); };
    if (sequence > highest_) {
        // The slots of the sequences skipped over belong to them now: not yet seen.
        for (int64_t s = std::max(highest_ + 1, sequence - kSentPacketsRemembered + 1); s <= sequence; ++s) {
            seen_.reset(slot(s));
        }
    }
    if (seen_.test(slot(sequence))) {
        return false;
    }
    seen_.set(slot(sequence));
    return true;
}

// The reflector's count on the latest packet tells how many it got of those sent up to it; the
// echoes tell how many of those came back. Packets missing between two echoes that the count
// does not account for were lost on the way out, taken as one run.
void RoundTripAnalysis::Count(const Echo& echo) {
    ++counts_.echoes;
    if (echo.sequence <= highest_) {
        return;  // a late echo: the counts stand on the latest one
    }
    const int64_t lostBetween = (echo.sequence - highest_) - (echo.reflected - highestCount_);
    if (lostBetween > 0) {
        ++counts_.forwardLossRuns;
    }
    highest_ = echo.sequence;
    highestCount_ = echo.reflected;
}

RoundTripDistributions RoundTripAnalysis::Summaries(const Window& window) const {
    return RoundTripDistributions{window.roundTrip.Summary(), window.turnaround.Summary(),
                                  PdvAbove(window.forward.Summary(), leastForwardMs_),
                                  PdvAbove(window.back.Summary(), leastReturnMs_)};
}

RoundTripFigures RoundTripAnalysis::TakeReport() {
    RoundTripFigures figures = counts_;
    run_.Absorb(interval_);
    figures.run = Summaries(run_);
    figures.interval = Summaries(interval_);
    figures.sentThrough = highest_ + 1;
    figures.reflected = highestCount_;
    figures.forwardLost = std::max<int64_t>(0, figures.sentThrough - highestCount_);
    figures.returnLost = std::max<int64_t>(0, highestCount_ - counts_.echoes);
    figures.forwardJitterBuffer = forwardLateness_.Figures();
    interval_.Reset();
    return figures;
}
