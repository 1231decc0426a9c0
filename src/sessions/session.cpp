#include "sessions/session.h"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "base/clock.h"
#include "measure/receiver_analysis.h"
#include "measure/sender_name_block.h"
#include "measure/test_packet.h"

namespace {

// The cumulative counts less those at the interval's start.
LossFigures Difference(const LossFigures& now, const LossFigures& start) {
    LossFigures interval = now;
    ForEachCount(interval, start, [](int64_t& count, int64_t startCount) { count -= startCount; });
    return interval;
}

}  // namespace

Session::Session(int64_t number,
                 const Endpoint& source,
                 int64_t frequency,
                 const PacketCheck& check,
                 int64_t listeningSince)
    : number_(number),
      source_(source.Unmapped()),
      frequency_(frequency),
      listeningSince_(listeningSince),
      lastTestPacket_(0),
      check_(check) {}

void Session::TakeFirstPackets(std::span<const HeldPacket> packets) {
    StartRun();
    TakeHeldPackets(packets);
}

void Session::MoveTo(const Endpoint& source, const PacketCheck& check, std::span<const HeldPacket> packets) {
    source_ = source.Unmapped();
    check_ = check;
    StartRun();
    headUndecided_ = false;  // the run's first groups went to the address before
    TakeHeldPackets(packets);
}

void Session::TakeHeldPackets(std::span<const HeldPacket> packets) {
    for (const HeldPacket& packet : packets) {
        record_.bytesReceived += packet.length;
        CountTrafficClass(record_, packet.length, packet.trafficClass);
        TakeTestPacket(packet.header, packet.statedGroupSize, packet.arrival);
    }
}

int64_t Session::Take(const ReceivedDatagram& datagram) {
    record_.bytesReceived += datagram.length;
    CountTrafficClass(record_, datagram.length, datagram.trafficClass);
    const ClassifiedDatagram classified = check_.Classify(datagram, frequency_);
    const int64_t notTestPackets =
        check_.TakeDroppedPackets() + (classified.kind == DatagramKind::NotTestPacket ? 1 : 0);
    CountNotTestPackets(notTestPackets);
    if (classified.kind == DatagramKind::NewRun) {
        StartRun();
        for (const HeldPacket& packet : check_.ConfirmedPackets()) {
            TakeTestPacket(packet.header, packet.statedGroupSize, packet.arrival);
        }
    } else if (classified.kind != DatagramKind::NotTestPacket && classified.kind != DatagramKind::Held) {
        record_.duplicateCount += classified.kind == DatagramKind::CopyOfFirst ? 1 : 0;
        TakeTestPacket(classified.header, classified.groupSize, datagram.arrival);
    }
    if (classified.kind != DatagramKind::NotTestPacket && classified.kind != DatagramKind::Held) {
        const std::span<const uint8_t> bytes(datagram.bytes, static_cast<size_t>(datagram.length));
        const std::span<const uint8_t> deciding = SenderNameDecidingBytes(bytes);
        if (!name_.Repeats(deciding)) {
            name_.Take(ReadSenderName(bytes), classified.header.groupNumber, deciding);
        }
    }
    return notTestPackets;
}

bool Session::TakeEndOfRun(const EndOfRun& end, int64_t arrival) {
    if (endOfRun_ && end.lastGroup == endOfRun_->lastGroup && end.sendCounter == endOfRun_->sendCounter) {
        return true;  // another copy
    }
    if (!check_.FitsEnd(end, arrival, frequency_)) {
        return false;
    }
    endOfRun_ = end;
    return true;
}

// A packet of the run, taken as on its arrival; a first packet is analysed once only.
void Session::TakeTestPacket(const TestPacketHeader& header, std::optional<uint16_t> statedGroupSize, int64_t arrival) {
    lastTestPacket_ = arrival;
    if (endOfRun_ && header.groupNumber > endOfRun_->lastGroup) {
        endOfRun_.reset();  // the run goes on: its end came from someone else
    }
    const int64_t sizeBefore = loss_.Figures().groupSize;
    const PacketCount count = loss_.Add(header.groupNumber, header.indexInGroup, statedGroupSize);
    if (loss_.Figures().groupSize > sizeBefore) {
        AnalysePending();
    }
    if (count == PacketCount::Pending && pending_.size() < kMostPendingPackets) {
        pending_.push_back({header, arrival});
    }
    if (count != PacketCount::New) {
        return;
    }
    if (header.indexInGroup == 0) {
        Analyse(header, arrival);
    } else {
        AnalyseCall(header, arrival);
    }
    if (headUndecided_) {
        DecideLostHead();
    }
}

// The sender started (again): the run before keeps its loss, and nothing measured spans the
// restart.
void Session::StartRun() {
    name_.NewRun();
    headUndecided_ = true;
    if (++run_ == 1) {
        return;
    }
    EndRun(record_);
    FinishRunLoss();
    endOfRun_.reset();
    earlierRunsLongestInInterval_ = std::max(earlierRunsLongestInInterval_, loss_.TakeIntervalLongestLossRun());
    earlierRuns_ = CombineRuns(earlierRuns_, loss_.Figures());
    loss_ = LossAccountant();
    rfc3550Jitter_.Restart();
    calls_.Restart();
    pending_.clear();
    earlierRunsSkewRemoved_ = Combine(earlierRunsSkewRemoved_, skew_.SkewRemovedMoments());
    skew_.Reset();
    playout_.EndRun();
}

// What is still missing from the run counts as lost, up to the end its sender told, if any.
void Session::FinishRunLoss() {
    if (endOfRun_) {
        loss_.FinishAt(endOfRun_->lastGroup, endOfRun_->packetsInLastGroup);
    } else {
        loss_.Finish();
    }
}

// A run whose first packet is not of group 0 lost the groups before it, if they were due while
// this far end listened: the run's reference packet came that many of its sender's periods
// after group 0 was due. A far end that began to listen later, or a run that began at another
// address, missed them unseen.
void Session::DecideLostHead() {
    const std::optional<double> period = PeriodSeconds();
    if (!record_.referenceSet || !period) {
        return;
    }
    headUndecided_ = false;
    const double listenedSeconds = SecondsBetween(record_.firstLocalCounter, listeningSince_);
    // A period's margin: a group 0 due just as the far end began may have come just before.
    if (listenedSeconds >= static_cast<double>(record_.firstGroupNumber + 1) * *period) {
        loss_.CountFromGroupZero();
    }
}

// A group's first packet: the dialog's figures, and the first call's samples, which are the
// dialog's own (its jitter is against the latest first packet, as every call's).
void Session::Analyse(const TestPacketHeader& header, int64_t arrival) {
    const AnalysedPacket measured = AnalyzeReceivedPacketWithoutHistogram(record_, header, arrival, frequency_);
    CallSample sample{std::nullopt, measured.delayMs, measured.runSeconds};
    if (!measured.reference) {
        jitterHistogram_.Add(JitterBin(measured.jitterMs));
        sample.jitterMs = measured.jitterMs;
    }
    rfc3550Jitter_.AddTransit(measured.delayMs);
    AddSample(sample);
}

// Any later packet of a group, measured within its own call; before the run's reference
// packet there is no delay to measure from.
void Session::AnalyseCall(const TestPacketHeader& header, int64_t arrival) {
    if (record_.referenceSet) {
        AddSample(calls_.Measure(header, arrival, frequency_,
                                 DelayReference{record_.firstSendCounter, record_.firstLocalCounter}));
    }
}

// The group size grew: the packets that waited for it are received, and analysed in their
// order of arrival, before the packet that made it grow.
void Session::AnalysePending() {
    const int64_t size = loss_.Figures().groupSize;
    for (const PendingPacket& packet : pending_) {
        if (packet.header.indexInGroup < size && packet.header.groupNumber > loss_.ClosedThrough()) {
            AnalyseCall(packet.header, packet.arrival);
        }
    }
    pending_.clear();
}

void Session::AddSample(const CallSample& sample) {
    if (sample.jitterMs) {
        AddJitterSample(*sample.jitterMs);
    }
    skew_.Add(sample.runSeconds, sample.delayMs);
    // The whole session's distributions take each interval's at its report (TakeFigures).
    intervalDelay_.Add(sample.delayMs);
    // One bin for the two: the sample's bin costs as much as adding it.
    const BinnedSample skewRemoved(skew_.SkewRemovedDelayMs(sample.runSeconds, sample.delayMs));
    playout_.Add(skewRemoved);  // a playout buffer follows a drifting clock
    intervalDelaySkewRemoved_.Add(skewRemoved);
}

void Session::AddJitterSample(double jitterMs) {
    intervalJitter_.Add(jitterMs);
    const double absolute = std::fabs(jitterMs);
    if (!std::isfinite(absolute)) {
        return;
    }
    // Most samples lie within the first bound or two: found there, one count instead of nine.
    size_t bucket = 0;
    while (bucket < kJitterBucketBoundsMs.size() && absolute > kJitterBucketBoundsMs[bucket]) {
        ++bucket;
    }
    if (bucket < kJitterBucketBoundsMs.size()) {
        ++jitterBuckets_.atOrBelow[bucket];
    }
    ++jitterBuckets_.count;
    jitterBuckets_.sumMs += absolute;
}

// The percentiles, minimum and maximum take each delay with the fit known at its arrival;
// the mean and the spread take every delay of a run with the run's latest fit, so that the
// early, rough fits of a run do not widen its spread.
std::optional<DistributionSummary> Session::SkewRemovedSummary() const {
    std::optional<DistributionSummary> summary = delaySkewRemoved_.Summary();
    const Moments moments = Combine(earlierRunsSkewRemoved_, skew_.SkewRemovedMoments());
    if (summary && moments.count > 0) {
        summary->mean = moments.mean;
        summary->stddev = moments.StandardDeviation();
    }
    return summary;
}

LossFigures Session::PacketFigures() const {
    return CombineRuns(earlierRuns_, loss_.Figures());
}

double Session::SecondsBetween(int64_t end, int64_t start) const {
    return ElapsedSeconds(start, end, frequency_);
}

void Session::TakeOversized(int64_t fullLength) {
    record_.bytesReceived += fullLength;
    CountNotTestPackets(1);
}

void Session::CountNotTestPackets(int64_t datagrams) {
    record_.ignoredCount += datagrams;
}

// A sender silent for more than a few of its periods: the groups due meanwhile count as lost
// in the interval, so that a dead path shows in the report that covers it.
void Session::AddSilence(SessionFigures& figures, int64_t now) {
    // A packet taken after `now` was read: not silent.
    figures.lastPacketAgeSeconds = std::max(0.0, SecondsBetween(now, lastTestPacket_));
    const std::optional<double> period = PeriodSeconds();
    // A sender that said it ended is not silent: nothing is due from it any more.
    figures.silent = !endOfRun_ && period && figures.lastPacketAgeSeconds > kSilentPeriods * *period;
    // Bounded: a forged period of a nanosecond must not overflow the counts.
    const double due = figures.silent ? std::min(std::floor(figures.lastPacketAgeSeconds / *period), 1e12) : 0.0;
    const RunPosition position{run_, loss_.LatestGroup(), loss_.ClosedThrough(), loss_.Figures().groupSize};
    provisional_.Apply(figures.interval.packets, position, static_cast<int64_t>(due));
}

SessionFigures Session::TakeFigures(bool final, int64_t now) {
    if (final) {
        FinishRunLoss();
        check_.DropCandidate();
        CountNotTestPackets(check_.TakeDroppedPackets());
    }
    SessionFigures figures;
    figures.session = number_;
    figures.run = run_;
    figures.source = source_;
    figures.senderName = name_.Agreed();
    figures.final = final;
    figures.record = record_;
    jitterHistogram_.CopyTo(figures.record.jitterHistogram);
    figures.packets = PacketFigures();
    jitter_.Absorb(intervalJitter_);
    delay_.Absorb(intervalDelay_);
    delaySkewRemoved_.Absorb(intervalDelaySkewRemoved_);
    figures.jitter = jitter_.Summary();
    figures.delay = delay_.Summary();
    figures.delaySkewRemoved = SkewRemovedSummary();
    figures.rfc3550JitterMs = rfc3550Jitter_.JitterMs();
    figures.skewPpm = skew_.SkewPpm();
    figures.skewPpmError = skew_.SkewPpmError();
    figures.notTestPackets = record_.ignoredCount;
    figures.jitterBuckets = jitterBuckets_;
    std::partial_sum(jitterBuckets_.atOrBelow.begin(), jitterBuckets_.atOrBelow.end(),
                     figures.jitterBuckets.atOrBelow.begin());
    figures.jitterBuffer = playout_.Figures();
    figures.interval.packets = Difference(figures.packets, intervalStart_);
    figures.interval.packets.longestLossRun =
        std::max(earlierRunsLongestInInterval_, loss_.TakeIntervalLongestLossRun());
    AddSilence(figures, now);
    figures.interval.jitter = intervalJitter_.Summary();
    figures.interval.delay = intervalDelay_.Summary();
    if (figures.delaySkewRemoved) {
        const double leastMs = figures.delaySkewRemoved->min;
        figures.pdv = PdvAbove(figures.delaySkewRemoved, leastMs);
        figures.interval.pdv = PdvAbove(intervalDelaySkewRemoved_.Summary(), leastMs);
    }

    intervalStart_ = figures.packets;
    earlierRunsLongestInInterval_ = 0;
    intervalJitter_.Reset();
    intervalDelay_.Reset();
    intervalDelaySkewRemoved_.Reset();
    return figures;
}
