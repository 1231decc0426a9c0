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

#include <array>
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
    // A skew is told once its 99 % error bound is within this.
    static constexpr double kMostErrorPpm = 2.0;

    // The hull's memory is taken once, so that adding points never allocates.
    ClockSkewEstimator();

    // Forgets every point (a new run), keeping the memory.
    void Reset();

    // One analysed packet: its arrival in seconds on the receiver's clock and its relative
    // one-way delay in ms, both measured from the same reference packet. A non-finite value is
    // ignored; a point before the latest one (a packet analysed late) enters the moments only.
    void Add(double receiverSeconds, double delayMs);

    // The slope of the relative delay over the receiver's time in ppm, positive when the delay
    // grows; empty until kMinPoints points span kMinSpanSeconds and the error bound is within
    // kMostErrorPpm.
    std::optional<double> SkewPpm() const;

    // The hull's slope in ppm however unsure it is: empty only until kMinPoints points span
    // kMinSpanSeconds.
    std::optional<double> FittedSkewPpm() const;

    // A bound (ppm) that the fitted slope's error stays within with 99 % confidence, from how
    // much the least delays scatter about a line; empty until kMinFloorBins bins have points.
    std::optional<double> SkewPpmError() const;

    // `delayMs` less the fitted slope times `receiverSeconds` (unchanged while SkewPpm is
    // empty). The intercept stays: the relative delay's origin (the reference packet) is
    // arbitrary anyway, and keeping it leaves the reference packet's delay at 0 as in the raw
    // figures, so both are summarised alike and agree at the start of a run.
    double SkewRemovedDelayMs(double receiverSeconds, double delayMs) const;

    // The moments of every point's skew-removed delay with the latest fit: exact, however
    // much the fit moved while the points came (running moments of both coordinates and
    // their co-moment give them for any slope).
    Moments SkewRemovedMoments() const;

    // Vertices of the lower hull kept, for a check of the memory bound.
    std::size_t HullSize() const { return hull_.size(); }

    // The least delays of the run kept per time bin, for the error bound: this many bins, that
    // start this wide and double as the run outgrows them, and at least this many with points.
    static constexpr std::size_t kFloorBins = 64;
    static constexpr double kFirstBinSeconds = 0.25;
    static constexpr std::size_t kMinFloorBins = 8;

  private:
    struct Point {
        double seconds;
        double delayMs;
    };
    struct FloorBin {
        bool used = false;
        Point least{};
    };

    void AddToHull(const Point& p);
    void Thin();
    // Whether the floor changed.
    bool AddToFloor(const Point& p);
    std::optional<double> FloorErrorPpm() const;
    void FollowMeanEdge();
    bool ErrorWithinBound() const;                   // SkewPpmError() is within kMostErrorPpm
    std::optional<double> SlopeMsPerSecond() const;  // the hull's, once within the error bound

    std::vector<Point> hull_;  // the lower convex hull, in order of time
    // The running moments of the points' times and delays, and their co-moment.
    Moments seconds_;
    Moments delayMs_;
    double coMoment_ = 0;
    std::array<FloorBin, kFloorBins> floor_{};
    double floorOrigin_ = 0;  // the first point's time
    double binsPerSecond_ = 1.0 / kFirstBinSeconds;
    // FloorErrorPpm() of the floor as it is: the floor changes seldom, while every packet's
    // skew-removed delay asks for the error.
    std::optional<double> floorErrorPpm_;
    // The hull's edge over the points' mean time (the index of its later vertex; 0: none) and
    // its slope, ms per second: empty until kMinPoints points span kMinSpanSeconds.
    std::size_t meanEdge_ = 0;
    std::optional<double> hullSlope_;
    double removedSlope_ = 0;  // SlopeMsPerSecond(), 0 while there is none
};
