#include "sessions/decaying_histogram.h"

#include "measure/receiver_analysis.h"

namespace {

// The scale shrinks by the decay with every sample and the increments grow by its inverse;
// folding it into the bins long before either leaves the range of a double (after about
// 115,000 samples) keeps both exact to rounding.
constexpr double kSmallestScale = 1e-100;

}  // namespace

void DecayingHistogram::Add(int bin) {
    scaled_[bin] += kJitterBinIncrement / scale_;
    scale_ *= kJitterBinDecay;
    if (scale_ < kSmallestScale) {
        Renormalise();
    }
}

void DecayingHistogram::Renormalise() {
    for (double& value : scaled_) {
        value *= scale_;
    }
    scale_ = 1.0;
}

void DecayingHistogram::CopyTo(double (&bins)[kHistogramBins]) const {
    for (int bin = 0; bin < kHistogramBins; ++bin) {
        bins[bin] = scaled_[bin] * scale_;
    }
}
