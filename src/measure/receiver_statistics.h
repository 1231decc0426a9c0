#pragma once
// The receiver's statistics record (jitter, delay, loss, histogram) and its display text.

#include <array>
#include <cstdint>
#include <string>

#include "base/udp_socket.h"
#include "measure/packet_check.h"

// The dialog's jitter histogram: kHistogramBins bins of kHistogramBinMs from kHistogramFromMs
// (ms of jitter), defined here for the analysis, the graph's axis and the reports alike.
inline constexpr int kHistogramBins = 400;
inline constexpr double kHistogramFromMs = -40.0;
inline constexpr double kHistogramBinMs = 0.2;
inline constexpr double kHistogramToMs = kHistogramFromMs + kHistogramBins * kHistogramBinMs;
inline constexpr int kDscpValues = 64;  // the six DSCP bits of the TOS / traffic class byte
inline constexpr int kEcnValues = 4;    // its two ECN bits

// The sender whose datagrams enter the figures: the source of the first test packet after a
// reset, and the state of its current run. The worker's own: it is never published.
// Until one is chosen, the sources whose test packets may begin a run each wait with a check
// of their own, so that interleaved senders cannot keep each other from being confirmed.
inline constexpr size_t kCandidateSenders = 4;

struct FollowedSender {
    struct Candidate {
        Endpoint source;
        PacketCheck check;
        int64_t lastArrival = 0;
    };
    bool chosen = false;
    Endpoint source;
    PacketCheck check;
    std::array<Candidate, kCandidateSenders> candidates{};
    size_t candidateCount = 0;
};

// What the receiver measured since the last reset; all-zero is the reset state.
struct ReceiverStatistics {
    int64_t bytesReceived = 0;                    // every datagram received, analysed or not
    int64_t firstGroupNumber = 0;                 // group number of the reference packet
    int64_t lastGroupNumber = 0;                  // group number of the latest analysed packet
    int64_t analysedCount = 0;                    // analysed packets, the reference included
    double jitterHistogram[kHistogramBins] = {};  // decaying jitter distribution, -40..40 ms
    bool referenceSet = false;
    double minJitter = 0;           // ms
    double maxJitter = 0;           // ms
    double jitterMeanSquare = 0;    // ms^2
    double maxAbsDelay = 0;         // ms
    double absDelayMeanSquare = 0;  // ms^2
    double absDelayMean = 0;        // ms
    int64_t lastSendCounter = 0;
    int64_t lastLocalCounter = 0;
    int64_t firstSendCounter = 0;
    int64_t firstLocalCounter = 0;
    // Not shown by the dialog: order counts for the command line tool.
    int64_t highestGroupNumber = 0;  // largest group number analysed
    int64_t outOfOrderCount = 0;     // analysed packets whose group number was below the largest
    int64_t duplicateCount = 0;      // analysed packets repeating the latest or largest group number
    // Datagrams longer than the receive buffer, dropped whole, and the largest length seen
    // (0 where the system does not tell it).
    int64_t truncatedCount = 0;
    int64_t largestTruncatedLength = 0;
    // Datagrams by the DSCP and ECN values they arrived with, where the receiver reads them.
    int64_t dscpCounts[kDscpValues] = {};
    int64_t ecnCounts[kEcnValues] = {};
    // Datagrams left out of the figures: from another sender than the followed one, or not
    // test packets.
    int64_t ignoredCount = 0;
    // The expected first packets of the followed sender's runs before the current one: a
    // sender that starts again counts its groups from 0 anew.
    int64_t earlierRunsExpected = 0;
    FollowedSender follow;
};

// The analysed packets expected in the current run, from its reference group to the latest
// analysed one: last - first + 1, wrapping.
int64_t CurrentRunExpectedCount(const ReceiverStatistics& statistics);

// The analysed packets expected over every run since the last reset.
int64_t ExpectedCount(const ReceiverStatistics& statistics);

// The share of expected first packets that did not arrive, in percent: (1 - analysed /
// expected) * 100, infinite or negative as the counts fall.
double LossPercent(const ReceiverStatistics& statistics);

// Counts a datagram of `length` bytes by the DSCP and ECN values of its TOS / traffic class
// byte (-1: not read, counts nothing). A datagram too short for a test packet says nothing
// about the marking of the path measured, and is left out.
void CountTrafficClass(ReceiverStatistics& statistics, int64_t length, int trafficClass);

// Copies, as StoreSharedRecord does, only the byte count and the counts of the datagram's
// TOS / traffic class byte: all that a datagram changes that no analysis looks into.
void StoreSharedCounts(ReceiverStatistics& to, const ReceiverStatistics& from, int trafficClass);

// The text of the receiver statistics box (CR LF line breaks); its last line counts the
// ignored datagrams, and only when there are any.
std::string ReceiverStatisticsText(const ReceiverStatistics& statistics);

// Field-wise relaxed atomic copies, for a record one thread writes while another reads.
// StoreSharedRecord leaves the histogram out unless `withHistogram`.
void StoreSharedRecord(ReceiverStatistics& to, const ReceiverStatistics& from, bool withHistogram = true);
ReceiverStatistics LoadSharedRecord(const ReceiverStatistics& from);
