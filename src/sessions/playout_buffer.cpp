#include "sessions/playout_buffer.h"

void PlayoutLateness::Add(const BinnedSample& delayMs) {
    run_.Add(delayMs);
}

void PlayoutLateness::EndRun() {
    const LateCounts late = LateInCurrentRun();
    for (size_t i = 0; i < kPlayoutBuffersMs.size(); ++i) {
        earlierRunsLate_[i] += late[i];
    }
    earlierRunsCount_ += run_.Count();
    run_.Reset();
}

PlayoutLateness::LateCounts PlayoutLateness::LateInCurrentRun() const {
    LateCounts late{};
    if (const std::optional<DistributionSummary> summary = run_.Summary()) {
        for (size_t i = 0; i < kPlayoutBuffersMs.size(); ++i) {
            late[i] = run_.CountAbove(summary->min + kPlayoutBuffersMs[i]);
        }
    }
    return late;
}

std::optional<JitterBufferFigures> PlayoutLateness::Figures() const {
    const int64_t count = earlierRunsCount_ + run_.Count();
    if (count == 0) {
        return std::nullopt;
    }
    const LateCounts late = LateInCurrentRun();
    JitterBufferFigures figures;
    for (size_t i = 0; i < kPlayoutBuffersMs.size(); ++i) {
        const auto lateInAllRuns = static_cast<double>(earlierRunsLate_[i] + late[i]);
        figures.latePercent[i] = 100.0 * lateInAllRuns / static_cast<double>(count);
    }
    // The largest when none is acceptable: the most a phone offers, said to be too little.
    size_t chosen = kPlayoutBuffersMs.size() - 1;
    for (size_t i = 0; i < kPlayoutBuffersMs.size(); ++i) {
        if (figures.latePercent[i] <= kAcceptableLatePercent) {
            chosen = i;
            figures.sufficient = true;
            break;
        }
    }
    figures.recommendedMs = kPlayoutBuffersMs[chosen];
    figures.recommendedLatePercent = figures.latePercent[chosen];
    return figures;
}
