#pragma once
// Turns each analysed packet into jitter, absolute delay, loss figures and the histogram.

#include <cstdint>

#include "base/clock.h"
#include "measure/receiver_statistics.h"
#include "measure/test_packet.h"

// The histogram bin of a jitter sample in ms: 0.2 ms bins from -40 ms, clamped to 0..399;
// a non-finite sample goes to bin 0.
int JitterBin(double jitterMs);

// Each jitter sample adds this to its histogram bin, and then every bin decays by this factor,
// so that the histogram shows the recent distribution.
inline constexpr double kJitterBinIncrement = 0.002;
inline constexpr double kJitterBinDecay = 0.998;

// Folds one jitter sample into the minimum, maximum, mean square and histogram.
void AddJitterSample(ReceiverStatistics& statistics, double jitterMs);

// Ends the current run of the followed sender (it started again): its expected packets are
// kept for the loss, and the next analysed packet takes a new reference, so that no delay or
// jitter sample spans the restart.
void EndRun(ReceiverStatistics& statistics);

// A packet's transit time less an earlier packet's, in ms: the seconds between their arrivals
// on the receiver's clock less those between their sends on the sender's. Only differences of
// the sender's counter enter, each divided by the packet's own frequency, so the two hosts'
// clocks need not agree. From the run's reference packet it is the relative one-way delay;
// from the packet before, the jitter sample.
inline double TransitChangeMs(double arrivalSeconds, const TestPacketHeader& packet, int64_t earlierSendCounter) {
    constexpr double kMsPerSecond = 1000.0;
    return (arrivalSeconds - ElapsedSeconds(earlierSendCounter, packet.sendCounter, packet.counterFrequency)) *
           kMsPerSecond;
}

// What the analysis of one packet measured, for figures kept beside the record.
struct AnalysedPacket {
    bool reference = false;    // the run's first packet: no jitter sample, delay 0 by definition
    double jitterMs = 0;       // the dialog's jitter sample (0 for the reference)
    double delayMs = 0;        // relative one-way delay, from the run's reference packet
    double runSeconds = 0;     // the arrival on the receiver's clock, from the reference packet's
    int64_t localCounter = 0;  // the arrival
};

// Analyses one first packet of a group (see AccountReceivedDatagram) with its decoded
// `header`, which arrived at `arrival`, a reading of the receiver's clock that counts
// `frequency` per second.
AnalysedPacket AnalyzeReceivedPacket(ReceiverStatistics& statistics,
                                     const TestPacketHeader& header,
                                     int64_t arrival,
                                     int64_t frequency);

// The same without the jitter histogram, for a caller that keeps it in a cheaper way of its
// own (each `jitterMs` of a packet that is not the `reference`): the record's histogram stays
// as it was.
AnalysedPacket AnalyzeReceivedPacketWithoutHistogram(ReceiverStatistics& statistics,
                                                     const TestPacketHeader& header,
                                                     int64_t arrival,
                                                     int64_t frequency);
