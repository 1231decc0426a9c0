#pragma once
// One report of a run (periodic or final): readable text, the dialog's statistics texts, or
// JSON Lines (one line for the sender, one for each sender's session at the receiver and one
// for the receiver's totals).

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "cli/voice_load.h"
#include "measure/receiver_statistics.h"
#include "measure/sender_statistics.h"
#include "sessions/session_figures.h"

// The sender's load as the run set it.
struct LoadReport {
    SendLoad load;
    std::optional<std::string> codec;  // the --codec that set it
    uint32_t payloadBytes = 0;         // the payload asked for, before the raise to the header size
    bool fixedPace = true;
};

// The figures of one report; a side that does not run is left out.
struct Report {
    std::chrono::system_clock::time_point time;  // when the report was taken
    double elapsedSeconds = 0;                   // since the run began
    bool final = false;                          // the report printed when the run ends
    std::optional<SenderStatistics> sender;
    uint32_t packetSize = 0;  // the sender's datagram length, for its bandwidth
    std::optional<LoadReport> load;
    // The receiver's own record, of every datagram it read: the byte total, the datagrams too
    // long for its buffer, and the one sender the dialog would follow.
    std::optional<ReceiverStatistics> receiver;
    uint32_t receiverBufferSize = 0;   // the longest datagram the receiver takes
    bool readsTrafficClass = false;    // the receiver's DSCP and ECN counts are meaningful
    bool kernelTimestamps = false;     // arrivals stamped by the kernel, not by the clock read after the receive
    int64_t grantedReceiveBuffer = 0;  // the socket's receive buffer, bytes; 0: the system's default
    // The receiver's sessions, one per sender; set whenever `receiver` is.
    std::optional<SessionsReport> sessions;
};

enum class TextStyle {
    Readable,  // a block per side and per session, with units
    Dialog,    // the dialog's box texts, one receiver text per session
};

// The sender's block, then one block per session (or the receiver's word that it has none),
// each ending in an empty line; '\n' line ends.
std::string ReportText(const Report& report, TextStyle style = TextStyle::Readable);

// JSON Lines: the sender's object, then one object per session, then the receiver's totals,
// each ending in '\n'. Figures that do not exist (yet) are null, never NaN.
std::string ReportJsonLines(const Report& report, bool withHistogram = false);

// "2026-12-07T21:47:34.123Z"
std::string Rfc3339Utc(std::chrono::system_clock::time_point time);

// The receiver's one notice that datagrams longer than its buffer were dropped, '\n' ended.
std::string TruncationNotice(const ReceiverStatistics& statistics, uint32_t bufferSize);

// A text of the dialog's (CR LF line ends) with '\n' line ends and no line break at its end.
std::string ConsoleText(std::string text);
