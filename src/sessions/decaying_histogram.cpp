#include "sessions/decaying_histogram.h"

#include "measure/receiver_analysis.h"

namespace {

// The scale shrinks by the decay with every sample and the increment grows by its inverse, a
// multiplication where a division by the scale would cost several. Each step rounds both, so
// they are folded into the bins every few thousand samples, before the increment strays from
// kJitterBinIncrement / scale by more than about 1e-12 of itself.
constexpr double kSmallestScale = 0.01;
constexpr double kGrowth = 1.0 / kJitterBinDecay;

}  // namespace

void DecayingHistogram::Add(int bin) {
    scaled_[bin] += increment_;
    scale_ *= kJitterBinDecay;
    increment_ *= kGrowth;
    if (scale_ < kSmallestScale) {
        Renormalise();
    }
}

void DecayingHistogram::Renormalise() {
    for (double& value : scaled_) {
        value *= scale_;
    }
    scale_ = 1.0;
    increment_ = kJitterBinIncrement;
}

void DecayingHistogram::CopyTo(double (&bins)[kHistogramBins]) const {
    for (int bin = 0; bin < kHistogramBins; ++bin) {
        bins[bin] = scaled_[bin] * scale_;
    }
}
