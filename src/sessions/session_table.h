#pragma once
// The far end's sessions: one per sender, keyed by its source address and port, each with
// its own checks, runs and figures. The receiving thread hands every datagram in; the report
// thread takes the figures out. Both lock the table, each for a short, bounded time.

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <unordered_map>
#include <vector>

#include "measure/datagram_sink.h"
#include "sessions/session_figures.h"

struct Clock;
class Session;

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

    // Receiving thread: one datagram as received, analysed at its own arrival; one too long
    // for the buffer counts as not a test packet.
    void TakeDatagram(const ReceivedDatagram& datagram) override;

    // Report thread: ends the sessions quiet for the time-out, then copies every session's
    // figures and starts the next interval. `final`: every session ends (the receiver stopped).
    SessionsReport TakeReport(bool final);

  private:
    struct KeyHash {
        size_t operator()(const EndpointKey& key) const;
    };
    using SessionMap = std::unordered_map<EndpointKey, std::unique_ptr<Session>, KeyHash>;

    void TakeOversized(const ReceivedDatagram& datagram);
    SessionMap::iterator StartSession(const Endpoint& source, int64_t arrival);
    void PushOutOldestIdle();
    bool TimedOut(const Session& session, int64_t now) const;
    // Under the lock: one session's figures (ending it when `final` or timed out); none when
    // it is gone.
    std::optional<SessionFigures> TakeFiguresOf(const EndpointKey& key, int64_t now, bool final);

    Clock& clock_;
    const SessionTableSettings settings_;
    const int64_t frequency_;
    std::mutex mutex_;  // guards everything below
    SessionMap sessions_;
    // Sessions pushed out since the last report, told once more in the next (at most
    // maxSessions of them: a flood of spoofed sources must not grow memory between reports).
    std::vector<SessionFigures> pushedOut_;
    int64_t nextSessionNumber_ = 1;
    int64_t notTestPackets_ = 0;
    int64_t droppedSessions_ = 0;
    int64_t bytesReceived_ = 0;
};
