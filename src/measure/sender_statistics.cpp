#include "measure/sender_statistics.h"

#include "base/format_string.h"
#include "base/shared_value.h"

namespace {

// A functor over every field, applied to the pair (to, from), so that the store and the load
// below can never miss one.
template <typename Copy>
void ForEachField(SenderStatistics& to, const SenderStatistics& from, Copy copy) {
    copy(to.maxSendDelay, from.maxSendDelay);
    copy(to.maxSendGroupDelay, from.maxSendGroupDelay);
    copy(to.meanSendDelay, from.meanSendDelay);
    copy(to.wouldBlockCount, from.wouldBlockCount);
    copy(to.sentPackets, from.sentPackets);
    copy(to.duration, from.duration);
    copy(to.groupsSent, from.groupsSent);
    copy(to.lateGroups, from.lateGroups);
    copy(to.maxLatenessMs, from.maxLatenessMs);
}

}  // namespace

SenderRates DerivedSenderRates(const SenderStatistics& statistics, uint32_t packetSize) {
    SenderRates rates;
    rates.bandwidthKBs = static_cast<double>(statistics.sentPackets) * packetSize / statistics.duration / 1024.0;
    rates.wouldBlockPercent =
        static_cast<double>(statistics.wouldBlockCount) / static_cast<double>(statistics.sentPackets) * 100.0;
    rates.groupsPerSecond = static_cast<double>(statistics.groupsSent) / statistics.duration;
    return rates;
}

std::string SenderStatisticsText(const SenderStatistics& statistics, uint32_t packetSize) {
    const SenderRates rates = DerivedSenderRates(statistics, packetSize);
    return FormatToString(
        "sender statistics:\r\nbandwidth=%d KB/sec\r\nmaxSendDelay = %dms\r\nmaxSendGroupDelay = %dms\r\nmean delay = "
        "%dms\r\nWSAEWOULDBLOCK %d%%\r\nduration = %ds",
        {rates.bandwidthKBs, statistics.maxSendDelay, statistics.maxSendGroupDelay, statistics.meanSendDelay,
         rates.wouldBlockPercent, statistics.duration});
}

void StoreSharedRecord(SenderStatistics& to, const SenderStatistics& from) {
    ForEachField(to, from, [](auto& field, const auto& value) { StoreShared(field, value); });
}

SenderStatistics LoadSharedRecord(const SenderStatistics& from) {
    SenderStatistics to;
    ForEachField(to, from, [](auto& field, const auto& value) { field = LoadShared(value); });
    return to;
}
