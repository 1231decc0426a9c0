#pragma once
// The far end's sessions: one per sender, keyed by its source address and port, each with
// its own checks, runs and figures. The receiving thread hands every datagram in; the report
// thread takes the figures out. Both lock the table, each for a short, bounded time.

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <unordered_map>
#include <vector>

#include "measure/datagram_sink.h"
#include "measure/default_settings.h"
#include "measure/packet_check.h"
#include "sessions/datagram_authenticator.h"
#include "sessions/session_figures.h"

struct Clock;
class Session;

// Sources whose test packets have not yet confirmed a run: a small record each, the oldest
// forgotten first, so that a flood of spoofed sources costs a bounded few hundred kilobytes.
inline constexpr size_t kMaxUnconfirmedSources = 1024;
// A session silent for more than this many of its sender's periods may be pushed out by a
// newcomer when the table is full; one heard from more recently never is.
inline constexpr double kSilentPeriodsBeforePushOut = kSilentPeriods;

struct SessionTableSettings {
    double timeoutSeconds = DefaultSettings::FarEnd::kSessionTimeoutSeconds;  // a session quiet this long ends
    int maxSessions = DefaultSettings::FarEnd::kMaxSessions;                  // newcomers beyond it are refused
};

class SessionTable : public DatagramSink {
  public:
    // `authenticator`, when given, decides which datagrams reach the sessions; the others are
    // only counted. The table asks it on the receiving thread only.
    SessionTable(Clock& clock,
                 SessionTableSettings settings = {},
                 std::shared_ptr<DatagramAuthenticator> authenticator = nullptr);
    ~SessionTable() override;

    // Receiving thread: one datagram as received, analysed at its own arrival; one too long
    // for the buffer counts as not a test packet.
    void TakeDatagram(const ReceivedDatagram& datagram) override;

    // Report thread: ends the sessions quiet for the time-out or ended by their sender, then copies every session's
    // figures and starts the next interval. `final`: every session ends (the receiver stopped).
    SessionsReport TakeReport(bool final);

  private:
    using SessionMap = std::unordered_map<EndpointKey, std::unique_ptr<Session>, EndpointKeyHash>;
    // A source without a session: its checks, waiting for a run to be confirmed.
    struct Unconfirmed {
        PacketCheck check;
        int64_t lastArrival = 0;
        bool refused = false;  // its run was confirmed while the table was full
    };
    using UnconfirmedMap = std::unordered_map<EndpointKey, Unconfirmed, EndpointKeyHash>;

    void TakeOversized(const ReceivedDatagram& datagram);
    void TakeEndOfRun(Session* session, const EndOfRun& end, int64_t arrival);
    Session* Find(const Endpoint& source);
    void Erase(SessionMap::iterator session);
    void TakeFromUnconfirmed(const ReceivedDatagram& datagram);
    // With a key: moves the session its sender names to the datagram's source, where
    // `packets` confirmed a new run; false when there is none to move.
    bool MoveNamedSession(const ReceivedDatagram& datagram,
                          const PacketCheck& check,
                          std::span<const HeldPacket> packets);
    void StopWaiting(UnconfirmedMap::iterator record);
    void ForgetUnconfirmed(UnconfirmedMap::iterator record);
    // The records quiet for the time-out, or `all` of them: what they held was no test packet.
    void ForgetQuietUnconfirmed(int64_t now, bool all);
    bool MakeRoom(int64_t now);
    bool TimedOut(const Session& session, int64_t now) const;
    // Whether and why a session ends at this report.
    SessionEnd EndOf(const Session& session, int64_t now, bool final) const;
    double SecondsBetween(int64_t end, int64_t start) const;
    // Under the lock: one session's figures (ending it when `final` or timed out); none when
    // it is gone.
    std::optional<SessionFigures> TakeFiguresOf(const EndpointKey& key, int64_t now, bool final);

    Clock& clock_;
    const SessionTableSettings settings_;
    const int64_t frequency_;
    const int64_t listeningSince_;  // the table's start: a run's first groups due since then were lost
    const std::shared_ptr<DatagramAuthenticator> authenticator_;
    std::mutex mutex_;  // guards everything below
    SessionMap sessions_;
    // The session found latest and its source's bytes: a stream comes mostly from one sender at
    // a time, so most datagrams need no look-up. Null after any session ends.
    Endpoint lastSource_;
    Session* lastSession_ = nullptr;
    UnconfirmedMap unconfirmed_;
    // Sessions pushed out since the last report, told once more in the next (at most
    // maxSessions of them: a flood of spoofed sources must not grow memory between reports).
    std::vector<SessionFigures> pushedOut_;
    int64_t nextSessionNumber_ = 1;
    int64_t notTestPackets_ = 0;
    int64_t droppedSessions_ = 0;
    int64_t refusedSessions_ = 0;
    int64_t unconfirmedSources_ = 0;
    int64_t forgottenSources_ = 0;
    int64_t refusedPackets_ = 0;
    int64_t bytesReceived_ = 0;
    int64_t unauthenticatedPackets_ = 0;
};
