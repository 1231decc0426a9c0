#pragma once
// The distribution of a whole run's samples (jitter or delay, in ms) in bounded memory:
// exact count, minimum, mean, maximum and standard deviation, and percentiles from a
// histogram whose bins are about 1 % wide.

#include <array>
#include <cstdint>
#include <memory>
#include <optional>

#include "sessions/moments.h"

// A percentile lies within this share of its value, plus kPercentileAbsoluteErrorMs, of the
// exact sample of its rank, for samples between -10,000 s and 10,000 s; beyond, the minimum or
// maximum stands for it.
inline constexpr double kPercentileRelativeError = 0.00503;
inline constexpr double kPercentileAbsoluteErrorMs = 0.00001;

struct DistributionSummary {
    int64_t count = 0;
    double min = 0.0;
    double mean = 0.0;
    double max = 0.0;
    double stddev = 0.0;  // of the samples themselves (divided by the count)
    double p50 = 0.0;     // percentiles by nearest rank: the sample of rank ceil(p/100 * count)
    double p95 = 0.0;
    double p99 = 0.0;
};

// A sample with its bin found once, for adding it to several distributions.
class BinnedSample {
  public:
    explicit BinnedSample(double ms);

  private:
    friend class SampleDistribution;
    double ms_;
    int bin_;  // -1: the sample is not finite
};

// Whether a distribution keeps its samples' mean and spread. One whose owner tells them
// otherwise leaves them out, which spares a division per sample; its summary's mean and
// standard deviation are then 0.
enum class MeanAndSpread { Kept, LeftOut };

class SampleDistribution {
  public:
    explicit SampleDistribution(MeanAndSpread meanAndSpread = MeanAndSpread::Kept);
    ~SampleDistribution();
    SampleDistribution(SampleDistribution&&) noexcept;
    SampleDistribution& operator=(SampleDistribution&&) noexcept;

    // Takes one sample; a sample that is not finite is left out. Never allocates.
    void Add(double ms);
    // The same for a sample binned once for several distributions (a whole run's and an
    // interval's, say).
    void Add(const BinnedSample& sample) {
        if (sample.bin_ >= 0) {
            AddAt(sample.bin_, sample.ms_);
        }
    }
    // Takes every sample of `part` (an interval's, say), as if each had been added here: the
    // bins, count, minimum and maximum exactly, the mean and spread to rounding (`part` must
    // keep them where this does).
    void Absorb(const SampleDistribution& part);
    // Forgets every sample (for the next interval), keeping the memory.
    void Reset();
    // None before the first sample.
    std::optional<DistributionSummary> Summary() const;
    // The samples above `ms`: exact below the minimum and from the maximum on; in between,
    // a sample in the bin that holds `ms` counts as above when the bin's middle is.
    int64_t CountAbove(double ms) const;
    int64_t Count() const { return moments_.count; }

  private:
    void AddAt(int bin, double ms);
    std::array<double, 3> Percentiles(const std::array<int, 3>& percents) const;

    struct Bins;
    std::unique_ptr<Bins> bins_;
    Moments moments_;  // only the count where the mean and spread are left out
    bool keepsMeanAndSpread_;
    double min_ = 0.0;
    double max_ = 0.0;
};
