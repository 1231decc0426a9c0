#include "sessions/sample_distribution.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>

namespace {

// Bins of about 0.9 % in |x| (in 41 octaves from 2^-17 ms to 2^24 ms, beyond 10,000 s, each cut
// into 80), mirrored for negative samples, since jitter and relative delay take both signs, and
// one bin for |x| below 2^-17 ms = 0.0000076 ms, whose middle is 0. Within an octave the bins
// are equal steps of q(f) = f (4 - f) / 3, f being the fraction of the octave: q is close to
// log2(1 + f) but costs two multiplications instead of a logarithm; its slope against the
// logarithm's stays within 0.92 to 1.04, so no bin is wider than 0.0094 in ln |x| and a bin's
// middle lies within 0.47 % of any value in it. Half a percent is what a percentile of a
// path's delay must be good for; bins twice as wide let it stray by 0.94 %. The bins take
// 52 KB per distribution.
constexpr int kSmallestExponent = -17;
constexpr int kOctaves = 41;
constexpr int kStepsPerOctave = 80;
constexpr int kSideBins = kOctaves * kStepsPerOctave;
constexpr double kSmallestMs = 0x1p-17;
constexpr double kLargestMs = 0x1p24;
// Below the smallest negative bin, the negative bins (largest |x| first), the bin of 0, the
// positive bins, above the largest.
constexpr int kZeroBin = 1 + kSideBins;
constexpr int kBinCount = 2 * kSideBins + 3;

constexpr uint64_t kFractionBits = (uint64_t{1} << 52) - 1;
constexpr uint64_t kOneBits = uint64_t{1023} << 52;

// The bin of a finite sample.
int BinOf(double ms) {
    const double magnitude = std::fabs(ms);
    if (magnitude < kSmallestMs) {
        return kZeroBin;
    }
    if (magnitude >= kLargestMs) {
        return ms < 0 ? 0 : kBinCount - 1;
    }
    const auto bits = std::bit_cast<uint64_t>(magnitude);
    const int exponent = static_cast<int>(bits >> 52) - 1023;
    const double fraction = std::bit_cast<double>((bits & kFractionBits) | kOneBits) - 1.0;
    const int step =
        std::min(kStepsPerOctave - 1, static_cast<int>(fraction * (4.0 - fraction) * (kStepsPerOctave / 3.0)));
    const int side = (exponent - kSmallestExponent) * kStepsPerOctave + step;
    return ms < 0 ? kZeroBin - 1 - side : kZeroBin + 1 + side;
}

// The fraction of the octave where step `q` (of kStepsPerOctave) starts: q's inverse.
double StepStart(int q) {
    return 2.0 - std::sqrt(4.0 - 3.0 * q / kStepsPerOctave);
}

// The middle of a bin that is neither below nor above every bin.
double MiddleOf(int bin) {
    if (bin == kZeroBin) {
        return 0.0;
    }
    const int side = bin > kZeroBin ? bin - kZeroBin - 1 : kZeroBin - 1 - bin;
    const int step = side % kStepsPerOctave;
    const double octave = std::ldexp(1.0, side / kStepsPerOctave + kSmallestExponent);
    const double magnitude = octave * (1.0 + (StepStart(step) + StepStart(step + 1)) / 2.0);
    return bin > kZeroBin ? magnitude : -magnitude;
}

}  // namespace

BinnedSample::BinnedSample(double ms) : ms_(ms), bin_(std::isfinite(ms) ? BinOf(ms) : -1) {}

struct SampleDistribution::Bins {
    std::array<uint64_t, kBinCount> counts{};
};

SampleDistribution::SampleDistribution(MeanAndSpread meanAndSpread)
    : bins_(std::make_unique<Bins>()), keepsMeanAndSpread_(meanAndSpread == MeanAndSpread::Kept) {}
SampleDistribution::~SampleDistribution() = default;
SampleDistribution::SampleDistribution(SampleDistribution&&) noexcept = default;
SampleDistribution& SampleDistribution::operator=(SampleDistribution&&) noexcept = default;

void SampleDistribution::Add(double ms) {
    if (std::isfinite(ms)) {
        AddAt(BinOf(ms), ms);
    }
}

void SampleDistribution::AddAt(int bin, double ms) {
    ++bins_->counts[static_cast<size_t>(bin)];
    if (moments_.count == 0) {
        min_ = ms;
        max_ = ms;
    }
    min_ = std::min(min_, ms);
    max_ = std::max(max_, ms);
    if (keepsMeanAndSpread_) {
        moments_.Add(ms);
    } else {
        ++moments_.count;
    }
}

void SampleDistribution::Absorb(const SampleDistribution& part) {
    if (part.moments_.count == 0) {
        return;
    }
    for (size_t bin = 0; bin < part.bins_->counts.size(); ++bin) {
        bins_->counts[bin] += part.bins_->counts[bin];
    }
    min_ = moments_.count == 0 ? part.min_ : std::min(min_, part.min_);
    max_ = moments_.count == 0 ? part.max_ : std::max(max_, part.max_);
    if (keepsMeanAndSpread_) {
        moments_ = Combine(moments_, part.moments_);
    } else {
        moments_.count += part.moments_.count;
    }
}

void SampleDistribution::Reset() {
    bins_->counts.fill(0);
    moments_ = Moments();
    min_ = max_ = 0.0;
}

std::optional<DistributionSummary> SampleDistribution::Summary() const {
    if (moments_.count == 0) {
        return std::nullopt;
    }
    DistributionSummary summary;
    summary.count = moments_.count;
    summary.min = min_;
    summary.mean = moments_.mean;
    summary.max = max_;
    summary.stddev = moments_.StandardDeviation();
    const std::array<double, 3> percentiles = Percentiles({50, 95, 99});
    summary.p50 = percentiles[0];
    summary.p95 = percentiles[1];
    summary.p99 = percentiles[2];
    return summary;
}

int64_t SampleDistribution::CountAbove(double ms) const {
    if (moments_.count == 0 || ms >= max_) {
        return 0;
    }
    if (ms < min_) {
        return moments_.count;
    }
    // The bins' middles rise with their index: from the first whose middle lies above `ms` on,
    // every sample counts.
    int64_t above = 0;
    for (int bin = kBinCount - 1; bin >= 0; --bin) {
        const double middle = bin == 0 ? min_ : bin == kBinCount - 1 ? max_ : MiddleOf(bin);
        if (middle <= ms) {
            break;
        }
        above += static_cast<int64_t>(bins_->counts[static_cast<size_t>(bin)]);
    }
    return above;
}

// The middle of the bin that holds the sample of each percentile's rank, kept within the exact
// minimum and maximum: a single sample, or samples all alike, give their exact value. One walk
// over the bins for all of them (percents in rising order).
std::array<double, 3> SampleDistribution::Percentiles(const std::array<int, 3>& percents) const {
    std::array<double, 3> values;
    values.fill(max_);
    size_t next = 0;
    int64_t seen = 0;
    for (int bin = 0; bin < kBinCount && next < percents.size(); ++bin) {
        seen += static_cast<int64_t>(bins_->counts[static_cast<size_t>(bin)]);
        // The rank in integers: ceil(0.95 * 100) in floating point would be 96.
        while (next < percents.size() && seen >= std::max<int64_t>(1, (moments_.count * percents[next] + 99) / 100)) {
            values[next++] = bin == 0 ? min_ : bin == kBinCount - 1 ? max_ : std::clamp(MiddleOf(bin), min_, max_);
        }
    }
    return values;
}
