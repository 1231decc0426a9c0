#include "sessions/sent_packet_log.h"

#include "measure/end_of_run.h"
#include "measure/test_packet.h"

SentPacketLog::SentPacketLog(int32_t groupSize, std::shared_ptr<PacketFinisher> next)
    : groupSize_(groupSize < 1 ? 1 : groupSize),
      next_(std::move(next)),
      entries_(std::make_unique<std::array<Entry, kSentPacketsRemembered>>()) {}

void SentPacketLog::Finish(uint8_t* packet, uint32_t size) {
    if (size >= kPacketHeaderSize && !IsEndOfRun(packet, size)) {
        Log(ReadPacketHeader(packet));
    }
    if (next_) {
        next_->Finish(packet, size);
    }
}

void SentPacketLog::Log(const TestPacketHeader& header) {
    const int64_t sequence = header.groupNumber * groupSize_ + header.indexInGroup;
    if (sequence < 0) {
        return;  // no packet of a run: its slot would lie outside the log
    }
    Entry& entry = (*entries_)[static_cast<size_t>(sequence % kSentPacketsRemembered)];
    // The sequence last, with release: a reader that sees it sees its counter (an echo that
    // races the rewrite of its slot is refused, never misread).
    entry.sequence.store(-1, std::memory_order_relaxed);
    entry.sendCounter.store(header.sendCounter, std::memory_order_relaxed);
    entry.sequence.store(sequence, std::memory_order_release);
}

bool SentPacketLog::Sent(int64_t sequence, int64_t sendCounter) const {
    if (sequence < 0) {
        return false;
    }
    const Entry& entry = (*entries_)[static_cast<size_t>(sequence % kSentPacketsRemembered)];
    if (entry.sequence.load(std::memory_order_acquire) != sequence) {
        return false;
    }
    const int64_t counter = entry.sendCounter.load(std::memory_order_relaxed);
    return entry.sequence.load(std::memory_order_acquire) == sequence && counter == sendCounter;
}
