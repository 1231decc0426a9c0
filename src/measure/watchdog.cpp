#include "measure/watchdog.h"

#include "base/format_string.h"
#include "measure/log_sink.h"

namespace {

constexpr int32_t kEventLevel = 3;
constexpr int32_t kSeriousLevel = 0;

}  // namespace

void CheckSlowCall(LogSink* sink, const WatchdogSite& site, double elapsedMs) {
    // No sink: nothing is formatted, so a site costs only its clock readings.
    if (sink == nullptr || !(elapsedMs > site.lowerMs)) {
        return;
    }
    const int32_t level = elapsedMs > site.upperMs ? kSeriousLevel : kEventLevel;
    sink->Log(FormatString(site.message, elapsedMs, site.line), level);
}

void LogEvent(LogSink* sink, const char* text) {
    if (sink != nullptr) {
        sink->Log(FormatString(text), kEventLevel);
    }
}

void LogEvent(LogSink* sink, const char* format, int32_t value) {
    if (sink != nullptr) {
        sink->Log(FormatString(format, value), kEventLevel);
    }
}
