#include "measure/receiver_analysis.h"

#include <cmath>

#include "base/clock.h"

namespace {

constexpr double kNewWeight = 0.002;  // a new sample's weight in the running means
constexpr double kOldWeight = 0.998;  // the old mean's weight

// The first packet after a reset: every later packet is measured against it.
AnalysedPacket TakeReference(ReceiverStatistics& s, const TestPacketHeader& packet, int64_t arrival) {
    s.referenceSet = true;
    s.firstSendCounter = packet.sendCounter;
    s.firstGroupNumber = packet.groupNumber;
    s.highestGroupNumber = packet.groupNumber;
    s.lastLocalCounter = arrival;
    s.firstLocalCounter = s.lastLocalCounter;
    AnalysedPacket measured;
    measured.reference = true;
    measured.localCounter = s.lastLocalCounter;
    return measured;
}

// A repeat of the latest or largest group number is a duplicate; any other number below
// the largest came out of order.
void CountOrder(ReceiverStatistics& s, int64_t groupNumber) {
    if (groupNumber == s.lastGroupNumber || groupNumber == s.highestGroupNumber) {
        ++s.duplicateCount;
    } else if (groupNumber < s.highestGroupNumber) {
        ++s.outOfOrderCount;
    } else {
        s.highestGroupNumber = groupNumber;
    }
}

void AddJitterFigures(ReceiverStatistics& s, double jitterMs) {
    if (jitterMs < s.minJitter) {
        s.minJitter = jitterMs;
    }
    if (jitterMs > s.maxJitter) {
        s.maxJitter = jitterMs;
    }
    s.jitterMeanSquare = kNewWeight * (jitterMs * jitterMs) + kOldWeight * s.jitterMeanSquare;
}

AnalysedPacket MeasurePacket(ReceiverStatistics& s,
                             const TestPacketHeader& packet,
                             int64_t now,
                             int64_t localFrequency,
                             bool withHistogram) {
    const double runSeconds = ElapsedSeconds(s.firstLocalCounter, now, localFrequency);
    const double absDelay = TransitChangeMs(runSeconds, packet, s.firstSendCounter);
    const double jitter =
        TransitChangeMs(ElapsedSeconds(s.lastLocalCounter, now, localFrequency), packet, s.lastSendCounter);
    if (withHistogram) {
        AddJitterSample(s, jitter);
    } else {
        AddJitterFigures(s, jitter);
    }
    if (absDelay > s.maxAbsDelay) {
        s.maxAbsDelay = absDelay;
    }
    s.lastLocalCounter = now;
    s.absDelayMeanSquare = kNewWeight * (absDelay * absDelay) + kOldWeight * s.absDelayMeanSquare;
    s.absDelayMean = kNewWeight * absDelay + kOldWeight * s.absDelayMean;
    CountOrder(s, packet.groupNumber);
    AnalysedPacket measured;
    measured.jitterMs = jitter;
    measured.delayMs = absDelay;
    measured.runSeconds = runSeconds;
    measured.localCounter = now;
    return measured;
}

}  // namespace

int JitterBin(double jitterMs) {
    if (!std::isfinite(jitterMs)) {
        return 0;
    }
    // Range checks before the conversion: converting an out-of-range double to int is undefined.
    const double position = (jitterMs - kHistogramFromMs) / kHistogramBinMs;
    if (position < 0.0) {
        return 0;
    }
    if (position >= kHistogramBins) {
        return kHistogramBins - 1;
    }
    return static_cast<int>(position);
}

void AddJitterSample(ReceiverStatistics& s, double jitterMs) {
    AddJitterFigures(s, jitterMs);
    s.jitterHistogram[JitterBin(jitterMs)] += kJitterBinIncrement;
    for (int bin = 0; bin < kHistogramBins; ++bin) {
        s.jitterHistogram[bin] *= kJitterBinDecay;
    }
}

void EndRun(ReceiverStatistics& s) {
    if (s.referenceSet) {
        s.earlierRunsExpected = ExpectedCount(s);
        s.referenceSet = false;
    }
}

namespace {

AnalysedPacket Analyze(ReceiverStatistics& s,
                       const TestPacketHeader& header,
                       int64_t arrival,
                       int64_t frequency,
                       bool withHistogram) {
    const AnalysedPacket measured = s.referenceSet ? MeasurePacket(s, header, arrival, frequency, withHistogram)
                                                   : TakeReference(s, header, arrival);
    ++s.analysedCount;
    s.lastSendCounter = header.sendCounter;
    s.lastGroupNumber = header.groupNumber;
    return measured;
}

}  // namespace

AnalysedPacket AnalyzeReceivedPacket(ReceiverStatistics& s,
                                     const TestPacketHeader& header,
                                     int64_t arrival,
                                     int64_t frequency) {
    return Analyze(s, header, arrival, frequency, true);
}

AnalysedPacket AnalyzeReceivedPacketWithoutHistogram(ReceiverStatistics& s,
                                                     const TestPacketHeader& header,
                                                     int64_t arrival,
                                                     int64_t frequency) {
    return Analyze(s, header, arrival, frequency, false);
}
