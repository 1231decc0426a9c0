#pragma once
// The far end's sessions: one per sender, keyed by its source address and port, each with
// its own checks, runs and figures. The receiving thread hands every datagram in; the report
// thread takes the figures out. Both lock the table, each for a short, bounded time.

#include <cstdint>
#include <memory>
#include <mutex>

#include "cli/session_figures.h"
#include "measure/datagram_sink.h"

struct Clock;

inline constexpr double kDefaultSessionTimeoutSeconds = 10.0;
inline constexpr int kDefaultMaxSessions = 256;

struct SessionTableSettings {
    double timeoutSeconds = kDefaultSessionTimeoutSeconds;  // a session quiet this long ends
    int maxSessions = kDefaultMaxSessions;                  // the oldest idle one goes first
};

class SessionTable : public DatagramSink {
  public:
    SessionTable(Clock& clock, SessionTableSettings settings = {});
    ~SessionTable() override;

    // Receiving thread: one datagram read from `source` (arrival read from the clock at once).
    void TakeDatagram(const uint8_t* datagram, int64_t length, const Endpoint& source, int trafficClass) override;

    // Report thread: ends the sessions quiet for the time-out, then copies every session's
    // figures and starts the next interval. `final`: every session ends (the receiver stopped).
    SessionsReport TakeReport(bool final);
};
