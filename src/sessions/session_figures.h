#pragma once
// What a report tells of one sender's session at the far end: a copy taken from the session
// table under its lock, which the report and metrics threads then read at leisure.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/udp_socket.h"
#include "measure/receiver_statistics.h"
#include "sessions/call_quality.h"
#include "sessions/loss_accountant.h"
#include "sessions/playout_buffer.h"
#include "sessions/sample_distribution.h"

// A session with no test packet for more than this many of its sender's periods is silent.
inline constexpr double kSilentPeriods = 3.0;

// Upper bounds (ms) of the absolute jitter buckets a metrics scraper sees.
inline constexpr std::array<double, 9> kJitterBucketBoundsMs = {0.5, 1, 2, 5, 10, 20, 30, 50, 100};

// Cumulative counts of the absolute jitter samples, as a Prometheus histogram holds them.
struct JitterBuckets {
    std::array<int64_t, kJitterBucketBoundsMs.size()> atOrBelow{};  // samples <= each bound
    int64_t count = 0;                                              // every sample (the +Inf bucket)
    double sumMs = 0;                                               // of the absolute samples
};

// Packet delay variation (RFC 5481): each delay, clock skew removed, above the session's least
// delay, in ms. A jitter buffer is sized from it: its p99 is the wait that lets 99 % play out.
struct PdvSummary {
    int64_t count = 0;
    double mean = 0.0;
    double p50 = 0.0;
    double p95 = 0.0;
    double p99 = 0.0;
    double max = 0.0;
};

// The delays of `delays` above `leastMs`; none without delays.
inline std::optional<PdvSummary> PdvAbove(const std::optional<DistributionSummary>& delays, double leastMs) {
    if (!delays) {
        return std::nullopt;
    }
    auto above = [leastMs](double ms) { return ms > leastMs ? ms - leastMs : 0.0; };
    return PdvSummary{delays->count,      above(delays->mean), above(delays->p50),
                      above(delays->p95), above(delays->p99),  above(delays->max)};
}

// The figures of the last report interval alone.
struct IntervalFigures {
    LossFigures packets;  // the differences of the cumulative counts over the interval
    std::optional<DistributionSummary> jitter;
    std::optional<DistributionSummary> delay;
    std::optional<PdvSummary> pdv;  // above the session's least delay, not the interval's
};

// Why a session ended.
enum class SessionEnd {
    Open,             // it has not
    BySender,         // its sender said it ended its run
    TimedOut,         // no test packet for the time-out
    PushedOut,        // a newcomer took its place in a full table
    ReceiverStopped,  // the receiver ended
};

struct SessionFigures {
    int64_t session = 0;  // 1, 2, ... in the order the sessions started
    int64_t run = 0;      // the sender's current run: 1, then one more at each restart
    Endpoint source;      // an IPv4 sender reaching a dual-stack socket is shown as IPv4
    bool final = false;   // the session has ended, for the reason below
    SessionEnd ended = SessionEnd::Open;
    // No test packet for more than kSilentPeriods of the sender's periods: the groups due meanwhile
    // count as lost in `interval` (not in the totals, which follow the group numbers).
    bool silent = false;
    double lastPacketAgeSeconds = 0;  // since the latest test packet, at the report
    // The name its sender's test packets agree on (SenderName), if any.
    std::optional<std::string> senderName;
    // The dialog's figures for this sender alone, histogram and DSCP/ECN counts included.
    ReceiverStatistics record;
    LossFigures packets;                                  // over every packet of every group, summed over the runs
    std::optional<DistributionSummary> jitter;            // the dialog's jitter sample, ms
    std::optional<DistributionSummary> delay;             // relative one-way delay, ms
    std::optional<DistributionSummary> delaySkewRemoved;  // the same with the clock skew taken out
    std::optional<PdvSummary> pdv;
    std::optional<double> rfc3550JitterMs;
    std::optional<double> skewPpm;       // slope of the relative delay over the receiver's time
    std::optional<double> skewPpmError;  // the slope's 99 % error bound, ppm
    int64_t notTestPackets = 0;          // datagrams from this source that failed the checks
    JitterBuckets jitterBuckets;
    std::optional<JitterBufferFigures> jitterBuffer;  // over the whole session, from the skew-removed delays
    // The verdict on a call over this sender's path, when the front end asked for one; the
    // reason when there is none.
    std::optional<CallQuality> quality;
    std::string qualityReason;
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
    // Datagrams the receiving host dropped at its socket (every source) for want of room:
    // lost on this host, not on the path, though the sessions count them as lost too.
    int64_t hostDrops = 0;
    // Of the unconfirmed sources, the ones forgotten (quiet for the time-out, or pushed out of
    // the list): unlike `unconfirmedSources`, which falls when a waiting source confirms its
    // run, it never falls.
    int64_t forgottenSources = 0;
    // The datagrams of the newcomers turned away, among `notTestPackets` too.
    int64_t refusedPackets = 0;
    // Datagrams longer than the receive buffer (the receiver's count, every source).
    int64_t truncatedDatagrams = 0;
};
