#pragma once
// The reflector's count of test packets per source and run, which it writes into each answer
// so that the sender can tell the packets lost on the way out from those lost on the way back.
// Bounded like the receiver's sessions: a flood of spoofed sources costs bounded memory and
// never pushes out a source heard from within the time-out.

#include <cstdint>
#include <unordered_map>

#include "base/udp_socket.h"
#include "measure/packet_check.h"

struct ReflectorSourcesSettings {
    double timeoutSeconds = 10;  // a source quiet this long is forgotten
    int maxSources = 256;        // newcomers beyond it are refused while no source has timed out
};

// What the reflector does with one datagram.
enum class ReflectorVerdict {
    Answer,          // a test packet: return it with `packetsFromSource`
    NotTestPacket,   // no answer: not a test packet of its source's run
    AlreadyStamped,  // no answer: it carries a reflector's stamps (reflectors must not play ping-pong)
    TooShort,        // no answer: no room for the stamps
    Refused,         // no answer: a new source while the table is full
};

struct ReflectorDecision {
    ReflectorVerdict verdict = ReflectorVerdict::NotTestPacket;
    int64_t packetsFromSource = 0;  // this run's test packets from the source, this one included
};

class ReflectorSources {
  public:
    // Arrivals are readings of a clock of `frequency` counts per second.
    ReflectorSources(ReflectorSourcesSettings settings, int64_t frequency);

    // One whole datagram (not truncated) at its arrival.
    ReflectorDecision Take(const ReceivedDatagram& datagram);

    // Forgets the sources quiet for the time-out at `now`.
    void ForgetQuiet(int64_t now);

    size_t Sources() const { return sources_.size(); }

  private:
    struct Source {
        PacketCheck check;
        int64_t runPackets = 0;  // the confirmed run's test packets
        int64_t lastArrival = 0;
    };
    using SourceMap = std::unordered_map<EndpointKey, Source, EndpointKeyHash>;

    // The source's place in the table; null while the table is full of sources heard within the time-out.
    Source* Add(const EndpointKey& key, Source source);
    bool Quiet(const Source& source, int64_t now) const;
    static ReflectorDecision Count(Source& source, const ClassifiedDatagram& classified);

    const ReflectorSourcesSettings settings_;
    const int64_t frequency_;
    SourceMap sources_;
};
