#include "sessions/session.h"

#include <algorithm>
#include <cmath>

#include "base/clock.h"
#include "measure/receiver_analysis.h"
#include "measure/test_packet.h"

namespace {

// The cumulative counts less those at the interval's start.
LossFigures Difference(const LossFigures& now, const LossFigures& start) {
    LossFigures interval = now;
    interval.received -= start.received;
    interval.lost -= start.lost;
    interval.expected -= start.expected;
    interval.duplicates -= start.duplicates;
    interval.reordered -= start.reordered;
    interval.firstPacketsLost -= start.firstPacketsLost;
    interval.ignored -= start.ignored;
    return interval;
}

}  // namespace

Session::Session(int64_t number, const Endpoint& source, int64_t frequency, const PacketCheck& check)
    : number_(number), source_(source.Unmapped()), frequency_(frequency), lastTestPacket_(0), check_(check) {}

void Session::TakeFirstPackets(std::span<const HeldPacket> packets) {
    StartRun();
    for (const HeldPacket& packet : packets) {
        record_.bytesReceived += packet.length;
        CountTrafficClass(record_, packet.length, packet.trafficClass);
        TakeTestPacket(packet);
    }
}

int64_t Session::Take(const uint8_t* datagram, int64_t length, int trafficClass, int64_t arrival) {
    record_.bytesReceived += length;
    CountTrafficClass(record_, length, trafficClass);
    const DatagramKind kind = check_.Classify(datagram, length, arrival, frequency_, trafficClass);
    const int64_t notTestPackets = check_.TakeDroppedPackets() + (kind == DatagramKind::NotTestPacket ? 1 : 0);
    CountNotTestPackets(notTestPackets);
    if (kind == DatagramKind::NewRun) {
        StartRun();
        for (const HeldPacket& packet : check_.ConfirmedPackets()) {
            TakeTestPacket(packet);
        }
    } else if (kind != DatagramKind::NotTestPacket && kind != DatagramKind::Held) {
        record_.duplicateCount += kind == DatagramKind::CopyOfFirst ? 1 : 0;
        TakeTestPacket(HeldPacket{ReadPacketHeader(datagram), ReadGroupSize(datagram), arrival, length, trafficClass});
    }
    return notTestPackets;
}

// A packet of the run, taken as on its arrival; a first packet is analysed once only.
void Session::TakeTestPacket(const HeldPacket& packet) {
    lastTestPacket_ = packet.arrival;
    const TestPacketHeader& header = packet.header;
    const PacketCount count = loss_.Add(header.groupNumber, header.indexInGroup, packet.statedGroupSize);
    if (header.indexInGroup == 0 && count == PacketCount::New) {
        Analyse(header, packet.arrival);
    }
}

// The sender started (again): the run before keeps its loss, and nothing measured spans the
// restart.
void Session::StartRun() {
    if (++run_ == 1) {
        return;
    }
    EndRun(record_);
    loss_.Finish();
    earlierRunsLongestInInterval_ = std::max(earlierRunsLongestInInterval_, loss_.TakeIntervalLongestLossRun());
    earlierRuns_ = CombineRuns(earlierRuns_, loss_.Figures());
    loss_ = LossAccountant();
    rfc3550Jitter_.Restart();
    earlierRunsSkewRemoved_ = Combine(earlierRunsSkewRemoved_, skew_.SkewRemovedMoments());
    skew_.Reset();
}

void Session::Analyse(const TestPacketHeader& header, int64_t arrival) {
    FixedClock clock(arrival, frequency_);
    uint8_t packet[kPacketHeaderSize] = {};
    WritePacketHeader(packet, header);
    const AnalysedPacket measured = AnalyzeReceivedPacket(record_, packet, clock, nullptr);
    if (measured.reference) {
        runReference_ = measured.localCounter;
    } else {
        AddJitterSample(measured.jitterMs);
    }
    const double runSeconds = SecondsBetween(measured.localCounter, runReference_);
    skew_.Add(runSeconds, measured.delayMs);
    delay_.Add(measured.delayMs);
    intervalDelay_.Add(measured.delayMs);
    delaySkewRemoved_.Add(skew_.SkewRemovedDelayMs(runSeconds, measured.delayMs));
    rfc3550Jitter_.AddTransit(measured.delayMs);
}

void Session::AddJitterSample(double jitterMs) {
    jitter_.Add(jitterMs);
    intervalJitter_.Add(jitterMs);
    const double absolute = std::fabs(jitterMs);
    if (!std::isfinite(absolute)) {
        return;
    }
    for (size_t bound = 0; bound < kJitterBucketBoundsMs.size(); ++bound) {
        if (absolute <= kJitterBucketBoundsMs[bound]) {
            ++jitterBuckets_.atOrBelow[bound];
        }
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
    return static_cast<double>(CounterDifference(end, start)) / static_cast<double>(frequency_);
}

void Session::TakeOversized(int64_t fullLength) {
    record_.bytesReceived += fullLength;
    CountNotTestPackets(1);
}

void Session::CountNotTestPackets(int64_t datagrams) {
    record_.ignoredCount += datagrams;
}

SessionFigures Session::TakeFigures(bool final) {
    if (final) {
        loss_.Finish();
    }
    SessionFigures figures;
    figures.session = number_;
    figures.run = run_;
    figures.source = source_;
    figures.final = final;
    figures.record = record_;
    figures.packets = PacketFigures();
    figures.jitter = jitter_.Summary();
    figures.delay = delay_.Summary();
    figures.delaySkewRemoved = SkewRemovedSummary();
    figures.rfc3550JitterMs = rfc3550Jitter_.JitterMs();
    figures.skewPpm = skew_.SkewPpm();
    figures.notTestPackets = record_.ignoredCount;
    figures.jitterBuckets = jitterBuckets_;
    figures.interval.packets = Difference(figures.packets, intervalStart_);
    figures.interval.packets.longestLossRun =
        std::max(earlierRunsLongestInInterval_, loss_.TakeIntervalLongestLossRun());
    figures.interval.jitter = intervalJitter_.Summary();
    figures.interval.delay = intervalDelay_.Summary();

    intervalStart_ = figures.packets;
    earlierRunsLongestInInterval_ = 0;
    intervalJitter_.Reset();
    intervalDelay_.Reset();
    return figures;
}
