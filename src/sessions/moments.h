#pragma once
// Running moments of a set of values: taken one value at a time (Welford's update, stable
// over days of samples) and combined across sets (Chan's pairwise update).

#include <cstdint>

struct Moments {
    int64_t count = 0;
    double mean = 0;
    double sumOfSquaredDeviations = 0;

    void Add(double value) {
        ++count;
        const double deviation = value - mean;
        mean += deviation / static_cast<double>(count);
        sumOfSquaredDeviations += deviation * (value - mean);
    }
    // The same given 1 / (count + 1): sets that always grow together share one division.
    void Add(double value, double inverseNewCount) {
        ++count;
        const double deviation = value - mean;
        mean += deviation * inverseNewCount;
        sumOfSquaredDeviations += deviation * (value - mean);
    }
    // Of the values themselves (divided by the count); 0 for none.
    double StandardDeviation() const;
};

// The moments of two sets together.
Moments Combine(const Moments& a, const Moments& b);
