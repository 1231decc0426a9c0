#pragma once
// The clock skew between sender and receiver, estimated from the lower envelope of one run's
// relative one-way delays.
//
// Two hosts' counters run at slightly different rates, so the relative one-way delay drifts
// by the skew. Queueing only ever adds delay, so the drift shows in the least delayed packets:
// the fitted line lies under every point and has the least total distance to them. That line
// touches the lower convex hull of the points along the edge above the points' mean time.
// A least-squares line would follow the queueing as well (a queue that builds up during a
// run reads as skew), so it is not used.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "sessions/moments.h"

class ClockSkewEstimator {
  public:
    // An estimate needs this many points over at least this many seconds: fewer points or a
    // shorter span leave the slope to the queueing of a handful of packets.
    static constexpr int64_t kMinPoints = 20;
    static constexpr double kMinSpanSeconds = 2.0;
    // The hull never holds more vertices than this (see Thin in the source).
    static constexpr std::size_t kMaxHullVertices = 512;

    // The hull's memory is taken once, so that adding points never allocates.
    ClockSkewEstimator();

    // Forgets every point (a new run), keeping the memory.
    void Reset();

    // One analysed packet: its arrival in seconds on the receiver's clock and its relative
    // one-way delay in ms, both measured from the same reference packet. Points must come in
    // order of arrival; a non-finite value or an arrival before the latest one is ignored.
    void Add(double receiverSeconds, double delayMs);

    // The slope of the relative delay over the receiver's time in ppm, positive when the delay
    // grows; empty until kMinPoints points span kMinSpanSeconds.
    std::optional<double> SkewPpm() const;

    // `delayMs` less the fitted slope times `receiverSeconds` (unchanged while there is no
    // estimate). The intercept stays: the relative delay's origin (the reference packet) is
    // arbitrary anyway, and keeping it leaves the reference packet's delay at 0 as in the raw
    // figures, so both are summarised alike and agree at the start of a run.
    double SkewRemovedDelayMs(double receiverSeconds, double delayMs) const;

    // The moments of every point's skew-removed delay with the latest fit: exact, however
    // much the fit moved while the points came (running moments of both coordinates and
    // their co-moment give them for any slope).
    Moments SkewRemovedMoments() const;

    // Vertices of the lower hull kept, for a check of the memory bound.
    std::size_t HullSize() const { return hull_.size(); }

  private:
    struct Point {
        double seconds;
        double delayMs;
    };

    void Thin();
    std::optional<double> SlopeMsPerSecond() const;

    std::vector<Point> hull_;  // the lower convex hull, in order of time
    // The running moments of the points' times and delays, and their co-moment.
    Moments seconds_;
    Moments delayMs_;
    double coMoment_ = 0;
};
