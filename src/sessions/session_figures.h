#pragma once
// What a report tells of one sender's session at the far end: a copy taken from the session
// table under its lock, which the report and metrics threads then read at leisure.

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "base/udp_socket.h"
#include "measure/receiver_statistics.h"
#include "sessions/loss_accountant.h"
#include "sessions/sample_distribution.h"

// Upper bounds (ms) of the absolute jitter buckets a metrics scraper sees.
inline constexpr std::array<double, 9> kJitterBucketBoundsMs = {0.5, 1, 2, 5, 10, 20, 30, 50, 100};

// Cumulative counts of the absolute jitter samples, as a Prometheus histogram holds them.
struct JitterBuckets {
    std::array<int64_t, kJitterBucketBoundsMs.size()> atOrBelow{};  // samples <= each bound
    int64_t count = 0;                                              // every sample (the +Inf bucket)
    double sumMs = 0;                                               // of the absolute samples
};

// The figures of the last report interval alone.
struct IntervalFigures {
    LossFigures packets;  // the differences of the cumulative counts over the interval
    std::optional<DistributionSummary> jitter;
    std::optional<DistributionSummary> delay;
};

struct SessionFigures {
    int64_t session = 0;  // 1, 2, ... in the order the sessions started
    int64_t run = 0;      // the sender's current run: 1, then one more at each restart
    Endpoint source;      // an IPv4 sender reaching a dual-stack socket is shown as IPv4
    bool final = false;   // the session has ended: quiet for the time-out, pushed out, or the receiver stopped
    // The dialog's figures for this sender alone, histogram and DSCP/ECN counts included.
    ReceiverStatistics record;
    LossFigures packets;                                  // over every packet of every group, summed over the runs
    std::optional<DistributionSummary> jitter;            // the dialog's jitter sample, ms
    std::optional<DistributionSummary> delay;             // relative one-way delay, ms
    std::optional<DistributionSummary> delaySkewRemoved;  // the same with the clock skew taken out
    std::optional<double> rfc3550JitterMs;
    std::optional<double> skewPpm;  // slope of the relative delay over the receiver's time
    int64_t notTestPackets = 0;     // datagrams from this source that failed the checks
    JitterBuckets jitterBuckets;
    IntervalFigures interval;
};

struct SessionsReport {
    // The open sessions in order of start, then those that ended since the last report
    // (final, each told once).
    std::vector<SessionFigures> sessions;
    int64_t notTestPackets = 0;          // in all, from sources without a session too
    int64_t droppedSessions = 0;         // sessions pushed out by a newcomer
    int64_t bytesReceived = 0;           // every datagram read
    int64_t sessionsStarted = 0;         // since the table was made, ended ones included
    int64_t refusedSessions = 0;         // confirmed newcomers turned away: the table was full
    int64_t unconfirmedSources = 0;      // sources heard from whose test packets confirmed no run
    int64_t unauthenticatedPackets = 0;  // test packets whose tag did not verify
    int64_t openSessions = 0;            // open after this report
};
