#pragma once
// One report of a run (periodic or final) as the dialog's statistics texts or as a JSON line.

#include <cstdint>
#include <optional>
#include <string>

#include "cli/voice_load.h"
#include "measure/receiver_statistics.h"
#include "measure/sender_statistics.h"

struct Exception;

// The sender's load as the run set it.
struct LoadReport {
    SendLoad load;
    std::optional<std::string> codec;  // the --codec that set it
    uint32_t payloadBytes = 0;         // the payload asked for, before the raise to the header size
    bool fixedPace = true;
};

// The figures of one report; a side that does not run is left out.
struct Report {
    double elapsedSeconds = 0;  // since the run began
    bool final = false;         // the report printed when the run ends
    std::optional<SenderStatistics> sender;
    uint32_t packetSize = 0;  // the sender's datagram length, for its bandwidth
    std::optional<LoadReport> load;
    std::optional<ReceiverStatistics> receiver;
    uint32_t receiverBufferSize = 0;  // the longest datagram the receiver takes
    bool readsTrafficClass = false;   // the receiver's DSCP and ECN counts are meaningful
};

// The dialog's box texts (sender first), then the order counts, then an empty line; '\n' line ends.
std::string ReportText(const Report& report);

// One JSON object with the raw figures, ending in '\n'; values that are not finite are null.
std::string ReportJsonLine(const Report& report);

// The receiver's one notice that datagrams longer than its buffer were dropped, '\n' ended.
std::string TruncationNotice(const ReceiverStatistics& statistics, uint32_t bufferSize);

// An error's text for the console: the dialog's text, then a line with the system's reason
// when it has one; no line break at its end.
std::string ErrorReportText(const Exception& e);

// A text of the dialog's (CR LF line ends) with '\n' line ends and no line break at its end.
std::string ConsoleText(std::string text);
