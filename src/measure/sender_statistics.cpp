#include "measure/sender_statistics.h"

#include "base/format_string.h"
#include "base/shared_value.h"

std::string SenderStatisticsText(const SenderStatistics& statistics, uint32_t packetSize) {
    // Zero divisors are left alone on purpose: right after a reset the quotients are not
    // finite, and the formatter prints them as such.
    const double bandwidthKBs = static_cast<double>(statistics.sentPackets) * packetSize / statistics.duration / 1024.0;
    const double wouldBlockPercent =
        static_cast<double>(statistics.wouldBlockCount) / static_cast<double>(statistics.sentPackets) * 100.0;
    return FormatToString(
        "sender statistics:\r\nbandwidth=%d KB/sec\r\nmaxSendDelay = %dms\r\nmaxSendGroupDelay = %dms\r\nmean delay = "
        "%dms\r\nWSAEWOULDBLOCK %d%%\r\nduration = %ds",
        {bandwidthKBs, statistics.maxSendDelay, statistics.maxSendGroupDelay, statistics.meanSendDelay,
         wouldBlockPercent, statistics.duration});
}

void StoreSharedRecord(SenderStatistics& to, const SenderStatistics& from) {
    StoreShared(to.maxSendDelay, from.maxSendDelay);
    StoreShared(to.maxSendGroupDelay, from.maxSendGroupDelay);
    StoreShared(to.meanSendDelay, from.meanSendDelay);
    StoreShared(to.wouldBlockCount, from.wouldBlockCount);
    StoreShared(to.sentPackets, from.sentPackets);
    StoreShared(to.duration, from.duration);
    StoreShared(to.groupsSent, from.groupsSent);
    StoreShared(to.lateGroups, from.lateGroups);
    StoreShared(to.maxLatenessMs, from.maxLatenessMs);
}

SenderStatistics LoadSharedRecord(const SenderStatistics& from) {
    SenderStatistics to;
    to.maxSendDelay = LoadShared(from.maxSendDelay);
    to.maxSendGroupDelay = LoadShared(from.maxSendGroupDelay);
    to.meanSendDelay = LoadShared(from.meanSendDelay);
    to.wouldBlockCount = LoadShared(from.wouldBlockCount);
    to.sentPackets = LoadShared(from.sentPackets);
    to.duration = LoadShared(from.duration);
    to.groupsSent = LoadShared(from.groupsSent);
    to.lateGroups = LoadShared(from.lateGroups);
    to.maxLatenessMs = LoadShared(from.maxLatenessMs);
    return to;
}
