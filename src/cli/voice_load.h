#pragma once
// Loads named as voice calls: the common codecs' RTP payloads and packet intervals, and the
// bit rate a load puts on the wire.

#include <cstdint>
#include <optional>
#include <string>

// One codec at one packet interval, as an RTP stream carries it.
struct VoiceCodec {
    const char* name;       // "g711-20"
    uint32_t payloadBytes;  // UDP payload: 12 bytes of RTP header and the voice frames
    uint32_t periodMs;      // one packet every periodMs
};

// The codec of that name (case-insensitive), or nullopt.
std::optional<VoiceCodec> FindVoiceCodec(const std::string& name);

// The names of all codecs, for the help text: "g711-10, g711-20, ...".
std::string VoiceCodecNames();

// What a sender puts on the wire: `calls` packets of `packetBytes` UDP payload every periodMs.
struct SendLoad {
    int32_t calls = 0;
    uint32_t packetBytes = 0;
    uint32_t periodMs = 0;
    bool ipv6 = false;
};

// kbit/s on the wire as links are sized: UDP payload, 8 bytes of UDP header and 20 (IPv4)
// or 40 (IPv6) bytes of IP header per packet, no Ethernet framing. Infinite for period 0.
double WireKbitPerSecond(const SendLoad& load);
