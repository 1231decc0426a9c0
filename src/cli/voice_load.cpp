#include "cli/voice_load.h"

#include <algorithm>
#include <cctype>

namespace {

constexpr uint32_t kRtpHeaderBytes = 12;
constexpr uint32_t kUdpHeaderBytes = 8;
constexpr uint32_t kIpv4HeaderBytes = 20;
constexpr uint32_t kIpv6HeaderBytes = 40;

// Voice bytes per millisecond of speech: G.711 and G.722 64 kbit/s, G.729 8 kbit/s, Opus
// taken at 32 kbit/s (its rate is the encoder's choice; 32 kbit/s is a common one for
// wideband speech).
constexpr VoiceCodec kCodecs[] = {
    {"g711-10", kRtpHeaderBytes + 80, 10},  {"g711-20", kRtpHeaderBytes + 160, 20},
    {"g711-30", kRtpHeaderBytes + 240, 30}, {"g722-10", kRtpHeaderBytes + 80, 10},
    {"g722-20", kRtpHeaderBytes + 160, 20}, {"g722-30", kRtpHeaderBytes + 240, 30},
    {"g729-10", kRtpHeaderBytes + 10, 10},  {"g729-20", kRtpHeaderBytes + 20, 20},
    {"g729-30", kRtpHeaderBytes + 30, 30},  {"opus-10", kRtpHeaderBytes + 40, 10},
    {"opus-20", kRtpHeaderBytes + 80, 20},  {"opus-30", kRtpHeaderBytes + 120, 30},
};

}  // namespace

std::optional<VoiceCodec> FindVoiceCodec(const std::string& name) {
    std::string lower = name;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (const VoiceCodec& codec : kCodecs) {
        if (lower == codec.name) {
            return codec;
        }
    }
    return std::nullopt;
}

std::string VoiceCodecNames() {
    std::string names;
    for (const VoiceCodec& codec : kCodecs) {
        names += (names.empty() ? "" : ", ") + std::string(codec.name);
    }
    return names;
}

double WireKbitPerSecond(const SendLoad& load) {
    const uint32_t headers = kUdpHeaderBytes + (load.ipv6 ? kIpv6HeaderBytes : kIpv4HeaderBytes);
    const double bitsPerPeriod = static_cast<double>(load.calls) * (load.packetBytes + headers) * 8.0;
    return bitsPerPeriod / static_cast<double>(load.periodMs);  // bits per ms are kbit/s
}
