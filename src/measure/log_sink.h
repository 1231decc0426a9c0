#pragma once
// The optional diagnostic sink that the worker threads report events and slow calls to.

#include <cstdint>

// Receives diagnostic texts with a level (3: events and moderate delays, 0: serious
// delays). It owns each text (a FormatString text: free it with delete[]) and may be
// called from the sender and the receiver thread at once.
class LogSink {
  public:
    virtual ~LogSink() = default;
    virtual void Log(char* text, int32_t level) = 0;
};
