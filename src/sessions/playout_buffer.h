#pragma once
// How a fixed playout (jitter) buffer would fare: the share of packets that would come too late
// for it, at the buffer sizes a phone offers, and the smallest size that plays nearly all.

#include <array>
#include <cstdint>
#include <optional>

#include "sessions/sample_distribution.h"

// The buffer sizes judged, ms, smallest first.
inline constexpr std::array<double, 5> kPlayoutBuffersMs = {20, 40, 60, 80, 100};
// A buffer that loses at most this share of the packets as late is good enough.
inline constexpr double kAcceptableLatePercent = 1.0;

struct JitterBufferFigures {
    std::array<double, kPlayoutBuffersMs.size()> latePercent{};  // one per kPlayoutBuffersMs
    double recommendedMs = 0;           // the smallest acceptable one, or the largest when none is
    double recommendedLatePercent = 0;  // its late share
    bool sufficient = false;            // whether any size was acceptable
};

// A packet is late for a buffer of B ms when its delay exceeds its run's smallest by more than
// B: the buffer starts playing with the earliest packet's delay. Each run of a sender has its
// own delay reference, so each run is judged against its own minimum.
class PlayoutLateness {
  public:
    // One packet's delay, ms, against any reference fixed for the run.
    void Add(const BinnedSample& delayMs);
    // The sender started again: the delays after this have another reference.
    void EndRun();
    // None before the first delay.
    std::optional<JitterBufferFigures> Figures() const;

  private:
    using LateCounts = std::array<int64_t, kPlayoutBuffersMs.size()>;
    LateCounts LateInCurrentRun() const;

    SampleDistribution run_{MeanAndSpread::LeftOut};  // only its minimum and its bins are asked for
    LateCounts earlierRunsLate_{};
    int64_t earlierRunsCount_ = 0;
};
