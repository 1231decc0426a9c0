#pragma once
// One report of a run (periodic or final) as the dialog's statistics texts or as a JSON line.

#include <cstdint>
#include <optional>
#include <string>

#include "measure/receiver_statistics.h"
#include "measure/sender_statistics.h"

// The figures of one report; a side that does not run is left out.
struct Report {
    double elapsedSeconds = 0;  // since the run began
    bool final = false;         // the report printed when the run ends
    std::optional<SenderStatistics> sender;
    uint32_t packetSize = 0;  // the sender's datagram length, for its bandwidth
    std::optional<ReceiverStatistics> receiver;
};

// The dialog's box texts (sender first), then the order counts, then an empty line; '\n' line ends.
std::string ReportText(const Report& report);

// One JSON object with the raw figures, ending in '\n'; values that are not finite are null.
std::string ReportJsonLine(const Report& report);

// A text of the dialog's (CR LF line ends) with '\n' line ends and no line break at its end.
std::string ConsoleText(std::string text);
