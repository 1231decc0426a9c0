#pragma once
// The send counters of a round-trip run's latest packets, written by the sender's thread as it
// finishes each packet and read by the thread that takes the echoes: an echo counts only when
// it carries the very counter its packet left with, so that a datagram made up by someone who
// did not see the packet cannot pass for its echo.

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>

#include "measure/packet_finisher.h"
#include "measure/test_packet.h"

// This many latest packets are remembered; an echo of an older one is refused.
inline constexpr int64_t kSentPacketsRemembered = 4096;

class SentPacketLog final : public PacketFinisher {
  public:
    // `groupSize`: the run's packets per group; `next`, if any, finishes each packet afterwards
    // (the key's tag, which covers everything else).
    SentPacketLog(int32_t groupSize, std::shared_ptr<PacketFinisher> next);

    // Logs a test packet (an end of run is no test packet), then hands it to the next finisher.
    void Finish(uint8_t* packet, uint32_t size) override;
    uint32_t TrailerSize() const override { return next_ ? next_->TrailerSize() : 0; }

    // Whether packet `sequence` (group * groupSize + index) left with `sendCounter` and is among
    // the latest remembered.
    bool Sent(int64_t sequence, int64_t sendCounter) const;

    int32_t GroupSize() const { return groupSize_; }

  private:
    void Log(const TestPacketHeader& header);

    struct Entry {
        std::atomic<int64_t> sequence{-1};
        std::atomic<int64_t> sendCounter{0};
    };

    const int32_t groupSize_;
    const std::shared_ptr<PacketFinisher> next_;
    std::unique_ptr<std::array<Entry, kSentPacketsRemembered>> entries_;
};
