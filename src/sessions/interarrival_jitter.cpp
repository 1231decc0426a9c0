#include "sessions/interarrival_jitter.h"

#include <cmath>

void InterarrivalJitter::AddTransit(double transitMs) {
    if (!std::isfinite(transitMs)) {
        return;
    }
    if (previousTransitMs_) {
        const double difference = std::fabs(transitMs - *previousTransitMs_);
        const double jitter = jitterMs_.value_or(0.0);
        jitterMs_ = jitter + (difference - jitter) / 16.0;
    }
    previousTransitMs_ = transitMs;
}
