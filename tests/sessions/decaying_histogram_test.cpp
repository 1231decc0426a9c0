#include "sessions/decaying_histogram.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "measure/receiver_analysis.h"

namespace {

// Against the dialog's own loop, over enough samples for the running scale to be folded into
// the bins once: first jitter of every size (beyond the range and not finite too), then only
// small jitter, so that the outer bins decay untouched across the fold.
TEST(DecayingHistogram, HoldsWhatTheDialogsLoopHoldsToRounding) {
    ReceiverStatistics dialog;
    DecayingHistogram histogram;
    const auto expectSame = [&](int samples) {
        double bins[kHistogramBins];
        histogram.CopyTo(bins);
        for (int bin = 0; bin < kHistogramBins; ++bin) {
            ASSERT_NEAR(bins[bin], dialog.jitterHistogram[bin], 1e-9 * dialog.jitterHistogram[bin])
                << "bin " << bin << " after " << samples << " samples";
        }
    };
    for (int i = 1; i <= 130'000; ++i) {
        double jitterMs =
            i < 60'000 ? -45.0 + static_cast<double>(i * 7919 % 901) * 0.1 : -2.0 + static_cast<double>(i % 41) * 0.1;
        if (i % 1000 == 0) {
            jitterMs = std::numeric_limits<double>::quiet_NaN();
        }
        AddJitterSample(dialog, jitterMs);
        histogram.Add(JitterBin(jitterMs));
        if (i == 1 || i == 59'999 || i == 130'000) {
            expectSame(i);
        }
    }
    EXPECT_GT(dialog.jitterHistogram[399], 0.0);  // the outer bins were checked, not gone
    EXPECT_LT(dialog.jitterHistogram[399], 1e-50);
}

}  // namespace
