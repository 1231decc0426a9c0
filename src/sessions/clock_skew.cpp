#include "sessions/clock_skew.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kPpmPerMsPerSecond = 1000.0;  // 1 ms per s is 1e-3

}  // namespace

ClockSkewEstimator::ClockSkewEstimator() {
    hull_.reserve(kMaxHullVertices + 1);
}

void ClockSkewEstimator::Reset() {
    hull_.clear();
    seconds_ = Moments();
    delayMs_ = Moments();
    coMoment_ = 0;
}

void ClockSkewEstimator::Add(double receiverSeconds, double delayMs) {
    if (!std::isfinite(receiverSeconds) || !std::isfinite(delayMs)) {
        return;
    }
    if (!hull_.empty() && receiverSeconds < hull_.back().seconds) {
        return;
    }
    const double secondsDeviation = receiverSeconds - seconds_.mean;
    seconds_.Add(receiverSeconds);
    delayMs_.Add(delayMs);
    coMoment_ += secondsDeviation * (delayMs - delayMs_.mean);
    const Point p{receiverSeconds, delayMs};
    if (!hull_.empty() && p.seconds == hull_.back().seconds) {
        if (p.delayMs >= hull_.back().delayMs) {
            return;  // at the same time only the least delay can be on the lower hull
        }
        hull_.pop_back();
    }
    // Points come in order of time, so the lower hull is kept as a monotone chain: the latest
    // vertex goes while it does not make a left turn with the new point.
    while (hull_.size() >= 2) {
        const Point& a = hull_[hull_.size() - 2];
        const Point& b = hull_.back();
        const double cross =
            (b.seconds - a.seconds) * (p.delayMs - a.delayMs) - (b.delayMs - a.delayMs) * (p.seconds - a.seconds);
        if (cross > 0) {
            break;
        }
        hull_.pop_back();
    }
    hull_.push_back(p);
    if (hull_.size() > kMaxHullVertices) {
        Thin();
    }
}

// The memory bound. Under random queueing the lower hull of a run stays small (its vertex
// count grows with the logarithm of the packets: a few dozen after a day at 100 packets/s),
// so the hull alone bounds the memory. Only a delay that steadily curves upwards puts every
// point on the hull; then it is decimated to vertices at least 2 / kMaxHullVertices of its
// span apart (to at most about half the cap), so no edge it makes is much longer than that
// spacing wherever the mean time lies. A subset of a convex chain with the same ends is still
// a convex chain, so it stays valid for the points to come; the dropped vertices lie just
// under it, and the fitted slope moves by no more than the delay's curvature over about one
// spacing (within 1 % for a steady curve over a day), where no straight line fits anyway.
void ClockSkewEstimator::Thin() {
    const double spacing = (hull_.back().seconds - hull_.front().seconds) * 2.0 / kMaxHullVertices;
    std::size_t kept = 1;
    for (std::size_t i = 1; i < hull_.size(); ++i) {
        if (i + 1 == hull_.size() || hull_[i].seconds - hull_[kept - 1].seconds >= spacing) {
            hull_[kept++] = hull_[i];
        }
    }
    hull_.resize(kept);
}

std::optional<double> ClockSkewEstimator::SlopeMsPerSecond() const {
    if (seconds_.count < kMinPoints || hull_.size() < 2 ||
        hull_.back().seconds - hull_.front().seconds < kMinSpanSeconds) {
        return std::nullopt;
    }
    // The line under all points with the least total distance to them is the one highest at
    // the points' mean time: the hull's edge over that time.
    const double meanSeconds = seconds_.mean;
    auto after = std::upper_bound(hull_.begin(), hull_.end(), meanSeconds,
                                  [](double seconds, const Point& vertex) { return seconds < vertex.seconds; });
    after = std::clamp(after, hull_.begin() + 1, hull_.end() - 1);
    const Point& a = *(after - 1);
    const Point& b = *after;
    return (b.delayMs - a.delayMs) / (b.seconds - a.seconds);
}

std::optional<double> ClockSkewEstimator::SkewPpm() const {
    const std::optional<double> slope = SlopeMsPerSecond();
    if (!slope) {
        return std::nullopt;
    }
    return *slope * kPpmPerMsPerSecond;
}

double ClockSkewEstimator::SkewRemovedDelayMs(double receiverSeconds, double delayMs) const {
    return delayMs - SlopeMsPerSecond().value_or(0.0) * receiverSeconds;
}

Moments ClockSkewEstimator::SkewRemovedMoments() const {
    // For r = d - s t: mean(r) = mean(d) - s mean(t), M2(r) = M2(d) - 2 s C(t, d) + s^2 M2(t).
    const double slope = SlopeMsPerSecond().value_or(0.0);
    Moments moments;
    moments.count = delayMs_.count;
    moments.mean = delayMs_.mean - slope * seconds_.mean;
    moments.sumOfSquaredDeviations = std::max(0.0, delayMs_.sumOfSquaredDeviations - 2.0 * slope * coMoment_ +
                                                       slope * slope * seconds_.sumOfSquaredDeviations);
    return moments;
}
