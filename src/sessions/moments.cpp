#include "sessions/moments.h"

#include <algorithm>
#include <cmath>

double Moments::StandardDeviation() const {
    return count == 0 ? 0.0 : std::sqrt(std::max(0.0, sumOfSquaredDeviations / static_cast<double>(count)));
}

Moments Combine(const Moments& a, const Moments& b) {
    if (a.count == 0 || b.count == 0) {
        return a.count == 0 ? b : a;
    }
    Moments both;
    both.count = a.count + b.count;
    const double n = static_cast<double>(both.count);
    const double delta = b.mean - a.mean;
    both.mean = a.mean + delta * static_cast<double>(b.count) / n;
    both.sumOfSquaredDeviations = a.sumOfSquaredDeviations + b.sumOfSquaredDeviations +
                                  delta * delta * static_cast<double>(a.count) * static_cast<double>(b.count) / n;
    return both;
}
