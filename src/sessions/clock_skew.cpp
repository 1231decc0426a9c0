#include "sessions/clock_skew.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kPpmPerMsPerSecond = 1000.0;  // 1 ms per s is 1e-3

// The hull rests on two least delays where a regression averages them all, so it strays
// further from the true slope where the floor wanders: in simulated runs (queueing of 20 us to
// 1 ms, floors wandering by up to 30 us over seconds) the hull's error reached the regression's
// 99 % bound times this in one run of a hundred; where the floor holds still it stays far within.
constexpr double kHullErrorFactor = 2.5;

}  // namespace

ClockSkewEstimator::ClockSkewEstimator() {
    hull_.reserve(kMaxHullVertices + 1);
}

void ClockSkewEstimator::Reset() {
    hull_.clear();
    seconds_ = Moments();
    delayMs_ = Moments();
    coMoment_ = 0;
    floor_ = {};
    floorOrigin_ = 0;
    binsPerSecond_ = 1.0 / kFirstBinSeconds;
    floorErrorPpm_.reset();
    meanEdge_ = 0;
    hullSlope_.reset();
    removedSlope_ = 0;
}

void ClockSkewEstimator::Add(double receiverSeconds, double delayMs) {
    if (!std::isfinite(receiverSeconds) || !std::isfinite(delayMs)) {
        return;
    }
    const bool inOrder = hull_.empty() || receiverSeconds >= hull_.back().seconds;
    if (seconds_.count == 0) {
        floorOrigin_ = receiverSeconds;
    }
    if (inOrder && AddToFloor(Point{receiverSeconds, delayMs})) {
        floorErrorPpm_ = FloorErrorPpm();
    }
    const double secondsDeviation = receiverSeconds - seconds_.mean;
    const double inverseNewCount = 1.0 / static_cast<double>(seconds_.count + 1);
    seconds_.Add(receiverSeconds, inverseNewCount);
    delayMs_.Add(delayMs, inverseNewCount);
    coMoment_ += secondsDeviation * (delayMs - delayMs_.mean);
    if (!inOrder) {
        return;  // the moments take it; the hull and the floor keep their order of time
    }
    AddToHull(Point{receiverSeconds, delayMs});
    FollowMeanEdge();
    removedSlope_ = ErrorWithinBound() && hullSlope_.has_value() ? *hullSlope_ : 0.0;
}

void ClockSkewEstimator::AddToHull(const Point& p) {
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
    if (meanEdge_ >= hull_.size()) {
        meanEdge_ = 0;  // a vertex of the edge went
    }
    hull_.push_back(p);
    if (hull_.size() > kMaxHullVertices) {
        Thin();
        meanEdge_ = 0;
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

// Each bin keeps its least delay; a run past the last bin halves the bins' count by pairing
// them (each pair keeps the lesser), so the memory stays fixed. The bins' width is a power of
// two (kFirstBinSeconds doubled), so multiplying by its inverse is exact, and cheaper than
// dividing by it.
bool ClockSkewEstimator::AddToFloor(const Point& p) {
    const double offset = p.seconds - floorOrigin_;
    bool changed = false;
    while (offset * binsPerSecond_ >= static_cast<double>(kFloorBins)) {
        for (std::size_t i = 0; i < kFloorBins / 2; ++i) {
            const FloorBin& a = floor_[2 * i];
            const FloorBin& b = floor_[2 * i + 1];
            floor_[i] = !b.used || (a.used && a.least.delayMs <= b.least.delayMs) ? a : b;
        }
        std::fill(floor_.begin() + kFloorBins / 2, floor_.end(), FloorBin{});
        binsPerSecond_ /= 2;
        changed = true;
    }
    FloorBin& bin = floor_[static_cast<std::size_t>(offset * binsPerSecond_)];
    if (!bin.used || p.delayMs < bin.least.delayMs) {
        bin = FloorBin{true, p};
        changed = true;
    }
    return changed;
}

// The line under all points with the least total distance to them is the one highest at the
// points' mean time: the hull's edge over that time. The mean moves slowly and the hull
// changes at its end, so the edge found last mostly still serves, with its slope.
void ClockSkewEstimator::FollowMeanEdge() {
    if (seconds_.count < kMinPoints || hull_.size() < 2 ||
        hull_.back().seconds - hull_.front().seconds < kMinSpanSeconds) {
        hullSlope_.reset();
        return;
    }
    const double meanSeconds = seconds_.mean;
    const std::size_t last = hull_.size() - 1;
    const bool stillOver = meanEdge_ != 0 && (meanEdge_ == 1 || hull_[meanEdge_ - 1].seconds <= meanSeconds) &&
                           (meanEdge_ == last || meanSeconds < hull_[meanEdge_].seconds);
    if (stillOver && hullSlope_) {
        return;
    }
    const auto after = std::upper_bound(hull_.begin(), hull_.end(), meanSeconds,
                                        [](double seconds, const Point& vertex) { return seconds < vertex.seconds; });
    meanEdge_ = std::clamp<std::size_t>(static_cast<std::size_t>(after - hull_.begin()), 1, last);
    const Point& a = hull_[meanEdge_ - 1];
    const Point& b = hull_[meanEdge_];
    hullSlope_ = (b.delayMs - a.delayMs) / (b.seconds - a.seconds);
}

// Read without copying the optionals: their copies stall the hot path.
bool ClockSkewEstimator::ErrorWithinBound() const {
    return seconds_.count >= kMinPoints && floorErrorPpm_.has_value() && !(*floorErrorPpm_ > kMostErrorPpm);
}

std::optional<double> ClockSkewEstimator::SlopeMsPerSecond() const {
    return ErrorWithinBound() ? hullSlope_ : std::nullopt;
}

namespace {

// The two-sided 99 % quantile of Student's t with `dof` degrees of freedom: exact below 4,
// the Cornish-Fisher expansion (within 1 %) above.
double StudentT99(double dof) {
    constexpr double kSmall[] = {63.657, 9.925, 5.841};
    if (dof < 4) {
        return kSmall[std::clamp(static_cast<int>(dof), 1, 3) - 1];
    }
    constexpr double z = 2.5758;
    return z + (z * z * z + z) / (4 * dof) + (5 * std::pow(z, 5) + 16 * z * z * z + 3 * z) / (96 * dof * dof);
}

}  // namespace

std::optional<double> ClockSkewEstimator::SkewPpmError() const {
    if (seconds_.count < kMinPoints) {
        return std::nullopt;
    }
    return floorErrorPpm_;
}

// The hull rests on a few least delays, so its slope is as sure as the floor they lie on is
// straight. The bins' least delays show that floor: their scatter about a straight line gives
// the slope's standard error as for a regression. A floor that wanders slowly puts neighbouring
// bins on the same side of the line, which shows as their correlation; it leaves fewer
// independent bins, and the error grows by the usual factor for correlated residuals.
std::optional<double> ClockSkewEstimator::FloorErrorPpm() const {
    std::array<Point, kFloorBins> least;  // in order of time; no allocation per packet
    std::size_t used = 0;
    for (const FloorBin& bin : floor_) {
        if (bin.used) {
            least[used++] = bin.least;
        }
    }
    if (used < kMinFloorBins) {
        return std::nullopt;
    }
    const double n = static_cast<double>(used);
    double meanT = 0;
    double meanD = 0;
    for (std::size_t i = 0; i < used; ++i) {
        meanT += least[i].seconds / n;
        meanD += least[i].delayMs / n;
    }
    double stt = 0;
    double coDeviation = 0;
    for (std::size_t i = 0; i < used; ++i) {
        stt += (least[i].seconds - meanT) * (least[i].seconds - meanT);
        coDeviation += (least[i].seconds - meanT) * (least[i].delayMs - meanD);
    }
    const double slope = coDeviation / stt;
    double squares = 0;
    double lagged = 0;
    double previous = 0;
    for (std::size_t i = 0; i < used; ++i) {
        const double residual = least[i].delayMs - meanD - slope * (least[i].seconds - meanT);
        squares += residual * residual;
        lagged += i > 0 ? residual * previous : 0;
        previous = residual;
    }
    const double correlation = squares > 0 ? std::clamp(lagged / squares, 0.0, 0.95) : 0.0;
    const double inflation = (1 + correlation) / (1 - correlation);
    const double standardError = std::sqrt(squares / (n - 2) * inflation / stt);
    return kHullErrorFactor * StudentT99(n - 2) * standardError * kPpmPerMsPerSecond;
}

std::optional<double> ClockSkewEstimator::FittedSkewPpm() const {
    const std::optional<double> slope = hullSlope_;
    if (!slope) {
        return std::nullopt;
    }
    return *slope * kPpmPerMsPerSecond;
}

std::optional<double> ClockSkewEstimator::SkewPpm() const {
    const std::optional<double> slope = SlopeMsPerSecond();
    if (!slope) {
        return std::nullopt;
    }
    return *slope * kPpmPerMsPerSecond;
}

double ClockSkewEstimator::SkewRemovedDelayMs(double receiverSeconds, double delayMs) const {
    return delayMs - removedSlope_ * receiverSeconds;
}

Moments ClockSkewEstimator::SkewRemovedMoments() const {
    // For r = d - s t: mean(r) = mean(d) - s mean(t), M2(r) = M2(d) - 2 s C(t, d) + s^2 M2(t).
    const double slope = removedSlope_;
    Moments moments;
    moments.count = delayMs_.count;
    moments.mean = delayMs_.mean - slope * seconds_.mean;
    moments.sumOfSquaredDeviations = std::max(0.0, delayMs_.sumOfSquaredDeviations - 2.0 * slope * coMoment_ +
                                                       slope * slope * seconds_.sumOfSquaredDeviations);
    return moments;
}
