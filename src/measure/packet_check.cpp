#include "measure/packet_check.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "base/clock.h"

namespace {

// A packet of the run lies this close to its sender's line of counters over groups: about
// 1 s, or 10 periods where a period is longer.
constexpr double kCounterToleranceSeconds = 1.0;
constexpr double kCounterTolerancePeriods = 10.0;
// A jump ahead is accepted up to twice the groups the time since the latest group allows.
constexpr double kGroupRateMargin = 2.0;
// Agreeing candidate packets lie at most this many seconds apart per group between them.
constexpr double kCandidateSecondsPerGroup = 10.0;

bool IsHeaderOfASender(const TestPacketHeader& header) {
    // Senders count groups up from 0: a negative number is no sender's, and leaving it out
    // keeps the differences of group numbers below from overflowing.
    return header.counterFrequency > 0 && header.indexInGroup >= 0 && header.groupNumber >= 0;
}

// Whether `later` can follow `earlier` in a run of one sender: the same clock, sent later
// (group and index), with a counter that rose with them and no more than the groups allow.
bool Agree(const TestPacketHeader& earlier, const TestPacketHeader& later) {
    if (later.counterFrequency != earlier.counterFrequency || later.groupNumber < earlier.groupNumber) {
        return false;
    }
    const int64_t groups = later.groupNumber - earlier.groupNumber;
    if (groups > kGroupsBehindAccepted || (groups == 0 && later.indexInGroup <= earlier.indexInGroup)) {
        return false;
    }
    // In floating point: forged counters may lie anywhere in the 64-bit range.
    const double ticks = static_cast<double>(later.sendCounter) - static_cast<double>(earlier.sendCounter);
    const double most =
        static_cast<double>(groups + 1) * kCandidateSecondsPerGroup * static_cast<double>(later.counterFrequency);
    return (groups == 0 ? ticks >= 0 : ticks > 0) && ticks <= most;
}

}  // namespace

ClassifiedDatagram PacketCheck::Classify(const ReceivedDatagram& datagram, int64_t arrivalFrequency) {
    confirmed_ = 0;
    ClassifiedDatagram classified;
    if (datagram.length < kPacketHeaderSize) {
        return classified;
    }
    classified.header = ReadPacketHeader(datagram.bytes);
    if (!IsHeaderOfASender(classified.header)) {
        return classified;
    }
    classified.groupSize = ReadGroupSize(datagram.bytes);
    if (FitsRun(classified.header, datagram.arrival, arrivalFrequency)) {
        DropCandidate();  // the run goes on: whatever waited was not its sender's restart
        classified.kind = Accept(classified.header, datagram.arrival);
    } else {
        classified.kind = Hold(HeldPacket{classified.header, classified.groupSize, datagram.arrival, datagram.length,
                                          datagram.trafficClass});
    }
    return classified;
}

int64_t PacketCheck::TakeDroppedPackets() {
    const int64_t dropped = droppedPackets_;
    droppedPackets_ = 0;
    return dropped;
}

// A packet of the current run: its clock, a group number neither too far behind nor further
// ahead than the time since the latest group allows, and a counter on the run's line. A
// packet of an earlier group sent after the latest group is a restarted sender's.
bool PacketCheck::FitsRun(const TestPacketHeader& header, int64_t arrival, int64_t arrivalFrequency) const {
    if (!runStarted_ || header.counterFrequency != frequency_) {
        return false;
    }
    const int64_t ahead = header.groupNumber - latestGroup_;
    if (ahead < -kGroupsBehindAccepted) {
        return false;
    }
    if (ahead < 0 ? header.sendCounter >= latestCounter_ : ahead > 0 && header.sendCounter <= latestCounter_) {
        return false;
    }
    if (ahead > kGroupsBehindAccepted) {
        const double groupsPerSecond = periodTicks_ > 0 ? static_cast<double>(frequency_) / periodTicks_ : 0.0;
        const double seconds = ElapsedSeconds(latestArrival_, arrival, arrivalFrequency);
        if (static_cast<double>(ahead - kGroupsBehindAccepted) > kGroupRateMargin * groupsPerSecond * seconds) {
            return false;
        }
    }
    return OnCountersLine(header);
}

bool PacketCheck::FitsEnd(const EndOfRun& end, int64_t arrival, int64_t arrivalFrequency) const {
    // Sent after every packet of the run: as the latest group's or a later one's last packet.
    const TestPacketHeader last{std::numeric_limits<int32_t>::max(), end.lastGroup, end.sendCounter, frequency_};
    return end.lastGroup >= latestGroup_ && end.sendCounter > latestCounter_ &&
           FitsRun(last, arrival, arrivalFrequency);
}

// The run's counters rise along a line over its group numbers (its period); a counter far
// off it is no packet of this run, whatever its header says.
bool PacketCheck::OnCountersLine(const TestPacketHeader& header) const {
    const double frequency = static_cast<double>(frequency_);
    const double groups = static_cast<double>(header.groupNumber - latestGroup_);
    const double offset = static_cast<double>(header.sendCounter) - static_cast<double>(latestCounter_);
    if (periodTicks_ <= 0) {
        // No period known yet: at most a second per group.
        return std::fabs(offset) <= kCounterToleranceSeconds * frequency * (std::fabs(groups) + 1.0);
    }
    const double tolerance = std::max(kCounterToleranceSeconds * frequency, kCounterTolerancePeriods * periodTicks_);
    return std::fabs(offset - groups * periodTicks_) <= tolerance;
}

std::optional<double> PacketCheck::PeriodSeconds() const {
    if (periodTicks_ <= 0) {
        return std::nullopt;
    }
    return periodTicks_ / static_cast<double>(frequency_);
}

// The sender's counter ticks per group over the run so far; 0 before a second group. Kept
// as the run's latest group changes: every packet's check asks for it.
void PacketCheck::NotePeriod() {
    const double ticks = static_cast<double>(latestCounter_) - static_cast<double>(firstCounter_);
    periodTicks_ =
        latestGroup_ <= firstGroup_ || ticks <= 0 ? 0.0 : ticks / static_cast<double>(latestGroup_ - firstGroup_);
}

DatagramKind PacketCheck::Accept(const TestPacketHeader& header, int64_t arrival) {
    const int64_t ahead = header.groupNumber - latestGroup_;
    if (ahead > 0) {
        // The bits of the groups now inside the window start clear.
        const int64_t cleared = std::min<int64_t>(ahead, static_cast<int64_t>(firstTaken_.size()));
        for (int64_t group = header.groupNumber - cleared + 1; group <= header.groupNumber; ++group) {
            firstTaken_.reset(static_cast<size_t>(group) % firstTaken_.size());
        }
        latestGroup_ = header.groupNumber;
        latestCounter_ = header.sendCounter;
        latestArrival_ = arrival;
        NotePeriod();
    }
    if (header.indexInGroup != 0) {
        return DatagramKind::RestOfGroup;
    }
    const size_t bit = static_cast<size_t>(header.groupNumber) % firstTaken_.size();
    if (firstTaken_.test(bit)) {
        return DatagramKind::CopyOfFirst;
    }
    firstTaken_.set(bit);
    return DatagramKind::FirstOfGroup;
}

// A packet that does not fit the run joins the candidate it agrees with, or begins one.
DatagramKind PacketCheck::Hold(const HeldPacket& packet) {
    if (heldCount_ > 0 && !Agree(held_[static_cast<size_t>(heldCount_ - 1)].header, packet.header)) {
        DropCandidate();
    }
    held_[static_cast<size_t>(heldCount_++)] = packet;
    if (heldCount_ < kPacketsConfirmingRun) {
        return DatagramKind::Held;
    }
    StartRun();
    return DatagramKind::NewRun;
}

void PacketCheck::StartRun() {
    runStarted_ = true;
    firstTaken_.reset();
    const TestPacketHeader& first = held_[0].header;
    frequency_ = first.counterFrequency;
    firstGroup_ = first.groupNumber;
    firstCounter_ = first.sendCounter;
    latestGroup_ = first.groupNumber;
    latestCounter_ = first.sendCounter;
    latestArrival_ = held_[0].arrival;
    NotePeriod();
    for (int i = 0; i < heldCount_; ++i) {
        const HeldPacket& packet = held_[static_cast<size_t>(i)];
        Accept(packet.header, packet.arrival);
    }
    confirmed_ = heldCount_;
    heldCount_ = 0;
}

void PacketCheck::DropCandidate() {
    droppedPackets_ += heldCount_;
    heldCount_ = 0;
}
