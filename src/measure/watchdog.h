#pragma once
// The slow-call watchdog: a timed blocking step becomes a report to the log sink when it
// takes longer than its site's lower threshold.

#include <cstdint>

class LogSink;

// One report site: its two thresholds in ms, its message ("%d" the time, "%i" the line)
// and the line number the message carries.
struct WatchdogSite {
    double lowerMs;
    double upperMs;
    const char* message;
    int32_t line;
};

inline constexpr WatchdogSite kSenderGroupSite{
    3.0, 10.0, "delay = %dms in MainWindow::SenderThreadEntry file winmain line %i", 338};
inline constexpr WatchdogSite kSendPacketSite{3.0, 15.0, "delay = %dms in MainWindow::SendPacket file winmain line %i",
                                              370};
inline constexpr WatchdogSite kReceivePacketSite{15.0, 30.0,
                                                 "delay = %dms in MainWindow::ReceivePacket file winmain line %i", 552};
inline constexpr WatchdogSite kAnalyzePacketSite{
    3.0, 10.0, "delay = %dms in MainWindow::AnalyzeReceivedPacket file winmain line %i", 598};

// Reports `elapsedMs` at level 3 above the lower threshold and at level 0 above the upper
// one (both strict). With no sink nothing is formatted or allocated.
void CheckSlowCall(LogSink* sink, const WatchdogSite& site, double elapsedMs);

// Reports an event text at level 3, e.g. "sender thread started".
void LogEvent(LogSink* sink, const char* text);

// Reports an event at level 3 whose format takes one "%i", e.g. "senderBufferSize = %i bytes".
void LogEvent(LogSink* sink, const char* format, int32_t value);
