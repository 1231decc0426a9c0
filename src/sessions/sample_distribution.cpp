#include "sessions/sample_distribution.h"

#include <algorithm>
#include <array>
#include <boost/histogram.hpp>
#include <cmath>
#include <vector>

namespace {

// Bins of equal width in asinh(x / 0.001 ms): about 2 % wide far from 0, 0.00002 ms wide at
// 0, and symmetric, since jitter and relative delay take both signs. A bin's middle lies
// within e^0.01 - 1 = 1.005 % of |x| plus 0.001 ms * sinh(0.01) of any value x in the bin.
struct SignedLogTransform {
    static constexpr double kScaleMs = 0.001;
    static double forward(double x) { return std::asinh(x / kScaleMs); }
    static double inverse(double t) { return kScaleMs * std::sinh(t); }
};

constexpr double kLimitMs = 1e7;  // 10,000 s
// 2 * asinh(1e10) / 0.02 bins: 0.02 wide in the transformed axis.
constexpr unsigned kBinCount = 2372;

using Axis = boost::histogram::axis::regular<double, SignedLogTransform>;
using Histogram = boost::histogram::histogram<std::tuple<Axis>, boost::histogram::dense_storage<uint64_t>>;

}  // namespace

struct SampleDistribution::Bins {
    Histogram histogram{Axis(kBinCount, -kLimitMs, kLimitMs)};
};

SampleDistribution::SampleDistribution() : bins_(std::make_unique<Bins>()) {}
SampleDistribution::~SampleDistribution() = default;
SampleDistribution::SampleDistribution(SampleDistribution&&) noexcept = default;
SampleDistribution& SampleDistribution::operator=(SampleDistribution&&) noexcept = default;

void SampleDistribution::Add(double ms) {
    if (std::isfinite(ms)) {
        AddAt(bins_->histogram.axis().index(ms), ms);
    }
}

void SampleDistribution::AddToBoth(SampleDistribution& a, SampleDistribution& b, double ms) {
    if (std::isfinite(ms)) {
        const int bin = a.bins_->histogram.axis().index(ms);
        a.AddAt(bin, ms);
        b.AddAt(bin, ms);
    }
}

// `bin`: the axis's index of `ms`, -1 below it and its size above.
void SampleDistribution::AddAt(int bin, double ms) {
    ++bins_->histogram.at(bin);
    if (moments_.count == 0) {
        min_ = ms;
        max_ = ms;
    }
    min_ = std::min(min_, ms);
    max_ = std::max(max_, ms);
    moments_.Add(ms);
}

void SampleDistribution::Reset() {
    bins_->histogram.reset();
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

// The middle of the bin that holds the sample of each percentile's rank, kept within the exact
// minimum and maximum: a single sample, or samples all alike, give their exact value. One walk
// over the bins for all of them (percents in rising order).
std::array<double, 3> SampleDistribution::Percentiles(const std::array<int, 3>& percents) const {
    std::array<double, 3> values;
    values.fill(max_);
    const Axis& axis = bins_->histogram.axis();
    size_t next = 0;
    int64_t seen = 0;
    for (auto&& bin : boost::histogram::indexed(bins_->histogram, boost::histogram::coverage::all)) {
        seen += static_cast<int64_t>(*bin);
        // The rank in integers: ceil(0.95 * 100) in floating point would be 96.
        while (next < percents.size() && seen >= std::max<int64_t>(1, (moments_.count * percents[next] + 99) / 100)) {
            const int index = bin.index();
            values[next++] = index < 0              ? min_
                             : index >= axis.size() ? max_
                                                    : std::clamp(axis.value(index + 0.5), min_, max_);
        }
        if (next == percents.size()) {
            break;
        }
    }
    return values;
}
