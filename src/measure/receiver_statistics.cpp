#include "measure/receiver_statistics.h"

#include <cmath>

#include "base/format_string.h"
#include "base/shared_value.h"
#include "measure/test_packet.h"

namespace {

constexpr int64_t kBytesPerMB = 1048576;

int DscpOf(int trafficClass) {
    return (trafficClass >> 2) % kDscpValues;
}

int EcnOf(int trafficClass) {
    return trafficClass % kEcnValues;
}

// A functor over every published field but the histogram (the counts of values included), applied to the pair (to,
// from), so that the store and the load below can never miss a field.
template <typename Copy>
void ForEachScalar(ReceiverStatistics& to, const ReceiverStatistics& from, Copy copy) {
    copy(to.bytesReceived, from.bytesReceived);
    copy(to.firstGroupNumber, from.firstGroupNumber);
    copy(to.lastGroupNumber, from.lastGroupNumber);
    copy(to.analysedCount, from.analysedCount);
    copy(to.referenceSet, from.referenceSet);
    copy(to.minJitter, from.minJitter);
    copy(to.maxJitter, from.maxJitter);
    copy(to.jitterMeanSquare, from.jitterMeanSquare);
    copy(to.maxAbsDelay, from.maxAbsDelay);
    copy(to.absDelayMeanSquare, from.absDelayMeanSquare);
    copy(to.absDelayMean, from.absDelayMean);
    copy(to.lastSendCounter, from.lastSendCounter);
    copy(to.lastLocalCounter, from.lastLocalCounter);
    copy(to.firstSendCounter, from.firstSendCounter);
    copy(to.firstLocalCounter, from.firstLocalCounter);
    copy(to.highestGroupNumber, from.highestGroupNumber);
    copy(to.outOfOrderCount, from.outOfOrderCount);
    copy(to.duplicateCount, from.duplicateCount);
    copy(to.truncatedCount, from.truncatedCount);
    copy(to.largestTruncatedLength, from.largestTruncatedLength);
    copy(to.ignoredCount, from.ignoredCount);
    copy(to.earlierRunsExpected, from.earlierRunsExpected);
    for (int value = 0; value < kDscpValues; ++value) {
        copy(to.dscpCounts[value], from.dscpCounts[value]);
    }
    for (int value = 0; value < kEcnValues; ++value) {
        copy(to.ecnCounts[value], from.ecnCounts[value]);
    }
}

}  // namespace

int64_t CurrentRunExpectedCount(const ReceiverStatistics& statistics) {
    // Unsigned arithmetic: group numbers far apart wrap instead of overflowing.
    return static_cast<int64_t>(static_cast<uint64_t>(statistics.lastGroupNumber) -
                                static_cast<uint64_t>(statistics.firstGroupNumber) + 1);
}

int64_t ExpectedCount(const ReceiverStatistics& statistics) {
    return static_cast<int64_t>(static_cast<uint64_t>(statistics.earlierRunsExpected) +
                                static_cast<uint64_t>(CurrentRunExpectedCount(statistics)));
}

double LossPercent(const ReceiverStatistics& statistics) {
    return (1.0 - static_cast<double>(statistics.analysedCount) / static_cast<double>(ExpectedCount(statistics))) *
           100.0;
}

std::string ReceiverStatisticsText(const ReceiverStatistics& statistics) {
    const int32_t wholeMB = static_cast<int32_t>(statistics.bytesReceived / kBytesPerMB);
    const int32_t remainingBytes = static_cast<int32_t>(statistics.bytesReceived % kBytesPerMB);
    std::string text = FormatToString(
        "receiver statistics:\r\nreceived %i MB %i bytes\r\nmin jitter = %dms\r\nmax jitter = %dms\r\njitter RMS = "
        "%dms\r\nmax abs. delay = %dms\r\nmean abs. delay = %dms\r\nabs. delay RMS = %dms\r\nlost packets: %d%%",
        {wholeMB, remainingBytes, statistics.minJitter, statistics.maxJitter, std::sqrt(statistics.jitterMeanSquare),
         statistics.maxAbsDelay, statistics.absDelayMean, std::sqrt(statistics.absDelayMeanSquare),
         LossPercent(statistics)});
    if (statistics.ignoredCount != 0) {
        // Written out whole: a flood can pass the 32 bits of the formatter's integers.
        text += "\r\nignored datagrams: " + std::to_string(statistics.ignoredCount);
    }
    return text;
}

void StoreSharedRecord(ReceiverStatistics& to, const ReceiverStatistics& from, bool withHistogram) {
    ForEachScalar(to, from, [](auto& field, const auto& value) { StoreShared(field, value); });
    if (withHistogram) {
        for (int bin = 0; bin < kHistogramBins; ++bin) {
            StoreShared(to.jitterHistogram[bin], from.jitterHistogram[bin]);
        }
    }
}

ReceiverStatistics LoadSharedRecord(const ReceiverStatistics& from) {
    ReceiverStatistics to;
    ForEachScalar(to, from, [](auto& field, const auto& value) { field = LoadShared(value); });
    for (int bin = 0; bin < kHistogramBins; ++bin) {
        to.jitterHistogram[bin] = LoadShared(from.jitterHistogram[bin]);
    }
    return to;
}

void CountTrafficClass(ReceiverStatistics& statistics, int64_t length, int trafficClass) {
    if (trafficClass >= 0 && length >= kPacketHeaderSize) {
        ++statistics.dscpCounts[DscpOf(trafficClass)];
        ++statistics.ecnCounts[EcnOf(trafficClass)];
    }
}

void StoreSharedCounts(ReceiverStatistics& to, const ReceiverStatistics& from, int trafficClass) {
    StoreShared(to.bytesReceived, from.bytesReceived);
    if (trafficClass >= 0) {
        StoreShared(to.dscpCounts[DscpOf(trafficClass)], from.dscpCounts[DscpOf(trafficClass)]);
        StoreShared(to.ecnCounts[EcnOf(trafficClass)], from.ecnCounts[EcnOf(trafficClass)]);
    }
}
