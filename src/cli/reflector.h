#pragma once
// veltrane-cli reflect: returns each test packet to its source at once, with the reflector's
// stamps and its count of the source's packets written into it, so that a sender measures the
// round trip and tells the loss on the way out from the loss on the way back. It is never an
// amplifier: it answers test packets only, each with one datagram of the same length, never a
// packet that already carries a reflector's stamps, and with a key only packets that carry the
// key's tag.

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/udp_socket.h"
#include "cli/datagram_loop.h"
#include "measure/packet_finisher.h"
#include "sessions/datagram_authenticator.h"
#include "sessions/reflector_sources.h"

struct ReflectorSettings {
    Endpoint local;
    bool dualStack = false;         // an IPv6 `local` that takes IPv4 too
    uint32_t datagramSize = 65535;  // the longest datagram answered
    uint32_t receiveBuffer = 0;     // bytes to ask the system for; 0: its default
    ReflectorSourcesSettings sources;
    // Keyed: each packet must pass `check`, and `retag` tags each answer over the stamps.
    std::shared_ptr<DatagramAuthenticator> check;
    std::shared_ptr<PacketFinisher> retag;
};

// What the reflector did with the datagrams it read, since it started.
struct ReflectorCounts {
    int64_t datagrams = 0;
    int64_t answered = 0;
    int64_t notTestPackets = 0;
    int64_t runEnds = 0;  // a sender's datagrams that end its run
    int64_t alreadyStamped = 0;
    int64_t tooShort = 0;         // no room for the stamps
    int64_t refusedSources = 0;   // datagrams of new sources while the table was full
    int64_t unauthenticated = 0;  // keyed: without the right tag
    int64_t truncated = 0;        // longer than the longest answered
    int64_t answersRefused = 0;   // the socket's buffer was full, or the send failed
    int64_t sources = 0;          // followed now
};

class Reflector {
  public:
    // A reflector bound and running; none, with the reason in `error`, when the socket cannot
    // be set up.
    static std::unique_ptr<Reflector> Start(const ReflectorSettings& settings, std::string& error);
    ~Reflector();  // stops before the socket closes

    ReflectorCounts Counts();
    uint16_t LocalPort() const { return localPort_; }
    bool KernelTimestamps() const { return kernelTimestamps_; }
    // The socket's receive buffer as the system granted it, bytes; 0: its default.
    int64_t GrantedReceiveBuffer() const { return grantedReceiveBuffer_; }
    bool Failed() const { return loop_ && loop_->Failed(); }
    std::string FailureText() const { return loop_ ? loop_->FailureText() : std::string(); }
    void Stop();

  private:
    Reflector(const ReflectorSettings& settings, UdpSocket socket);
    void Take(const ReceivedDatagram& datagram);
    void Answer(const ReceivedDatagram& datagram, int64_t packetsFromSource);
    void Count(ReflectorVerdict verdict);

    const ReflectorSettings settings_;
    UdpSocket socket_;  // before the loop: closed after it has stopped
    uint16_t localPort_ = 0;
    bool kernelTimestamps_ = false;
    int64_t grantedReceiveBuffer_ = 0;
    std::vector<uint8_t> answer_;  // the loop thread's
    int64_t lastPrune_ = 0;        // the loop thread's
    std::mutex mutex_;             // guards the two below
    ReflectorSources sources_;
    ReflectorCounts counts_;
    std::unique_ptr<DatagramLoop> loop_;  // last: its thread uses the members above
};
