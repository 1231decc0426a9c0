#pragma once
// The dialog's decaying jitter histogram (each sample adds kJitterBinIncrement to its bin, then
// every bin decays by kJitterBinDecay) at a constant cost per sample: the bins are kept
// divided by a running scale, so that decaying all of them is one multiplication of the scale.
// The bins agree with the dialog's loop to rounding.

#include "measure/receiver_analysis.h"
#include "measure/receiver_statistics.h"

class DecayingHistogram {
  public:
    void Add(int bin);
    // The bins as the dialog's loop would hold them.
    void CopyTo(double (&bins)[kHistogramBins]) const;

  private:
    void Renormalise();

    double scaled_[kHistogramBins] = {};  // each bin divided by scale_
    double scale_ = 1.0;
    double increment_ = kJitterBinIncrement;  // kJitterBinIncrement / scale_
};
