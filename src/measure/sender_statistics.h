#pragma once
// The sender's statistics record and its display text.

#include <cstdint>
#include <string>

// What the sender measured in its current run; all-zero is the reset state.
struct SenderStatistics {
    double maxSendDelay = 0;       // ms, longest single send call
    double maxSendGroupDelay = 0;  // ms, longest time to send one whole group
    double meanSendDelay = 0;      // ms, smoothed send-call time
    int64_t wouldBlockCount = 0;   // sends refused because the socket buffer was full
    int64_t sentPackets = 0;       // sends that succeeded
    double duration = 0;           // s, since the current run's pacing loop began
    // Not shown by the dialog: the pace, for the command line tool.
    int64_t groupsSent = 0;    // whole groups sent
    int64_t lateGroups = 0;    // groups of a fixed schedule that were due before the sender was ready
    double maxLatenessMs = 0;  // the most any of them was late
};

// The figures derived from the record, for the dialog's text and the reports alike. The
// quotients are left as they fall: right after a reset a zero divisor makes them not finite.
struct SenderRates {
    double bandwidthKBs = 0;       // KB (1024 bytes) of packets sent per second
    double wouldBlockPercent = 0;  // refused sends per packet sent, in %
    double groupsPerSecond = 0;
};
SenderRates DerivedSenderRates(const SenderStatistics& statistics, uint32_t packetSize);

// The text of the sender statistics box (CR LF line breaks).
std::string SenderStatisticsText(const SenderStatistics& statistics, uint32_t packetSize);

// Field-wise relaxed atomic copies, for a record one thread writes while another reads.
void StoreSharedRecord(SenderStatistics& to, const SenderStatistics& from);
SenderStatistics LoadSharedRecord(const SenderStatistics& from);
