#include "measure/packet_check.h"

ClassifiedDatagram PacketCheck::Classify(const uint8_t* datagram, int64_t length) {
    ClassifiedDatagram classified;
    if (length < kPacketHeaderSize) {
        return classified;
    }
    classified.header = ReadPacketHeader(datagram);
    classified.kind = KindOf(classified.header);
    if (classified.kind != DatagramKind::NotTestPacket) {
        classified.groupSize = ReadGroupSize(datagram);
    }
    return classified;
}

DatagramKind PacketCheck::KindOf(const TestPacketHeader& header) {
    // Senders count groups up from 0: a negative number is no sender's, and leaving it out
    // keeps the differences of group numbers below from overflowing.
    if (header.counterFrequency <= 0 || header.indexInGroup < 0 || header.groupNumber < 0) {
        return DatagramKind::NotTestPacket;
    }
    const bool first = header.indexInGroup == 0;
    if (first && (!runStarted_ || IsRestart(header.counterFrequency, header.groupNumber))) {
        return StartRun(header.counterFrequency, header.groupNumber);
    }
    if (!runStarted_ || header.counterFrequency != frequency_) {
        return DatagramKind::NotTestPacket;
    }
    const int64_t ahead = header.groupNumber - latestGroup_;
    if (ahead < -kGroupsBehindAccepted) {
        return DatagramKind::NotTestPacket;
    }
    if (ahead > kGroupsAheadAccepted && !(first && ConfirmsJump(header.groupNumber))) {
        return DatagramKind::NotTestPacket;
    }
    if (first) {
        jumpAgreeing_ = 0;  // the agreeing first packets must come one after another
    }
    if (ahead > 0) {
        latestGroup_ = header.groupNumber;
    }
    return first ? DatagramKind::FirstOfGroup : DatagramKind::RestOfGroup;
}

DatagramKind PacketCheck::StartRun(int64_t frequency, int64_t groupNumber) {
    runStarted_ = true;
    frequency_ = frequency;
    latestGroup_ = groupNumber;
    jumpAgreeing_ = 0;
    return DatagramKind::NewRun;
}

// A sender started again counts its groups from 0 anew, and may come back with another clock.
bool PacketCheck::IsRestart(int64_t frequency, int64_t groupNumber) const {
    return groupNumber < latestGroup_ - kGroupsBehindAccepted ||
           (frequency != frequency_ && groupNumber < kNewRunGroupsBelow);
}

// First packets far ahead agree when each lies 1 to 64 groups after the one before, as a
// sender's do after an outage; random headers almost never do.
bool PacketCheck::ConfirmsJump(int64_t groupNumber) {
    const int64_t step = groupNumber - jumpLatestGroup_;
    const bool agrees = jumpAgreeing_ > 0 && step >= 1 && step <= kGroupsBehindAccepted;
    jumpAgreeing_ = agrees ? jumpAgreeing_ + 1 : 1;
    jumpLatestGroup_ = groupNumber;
    return jumpAgreeing_ >= kFirstPacketsConfirmingJump;
}
