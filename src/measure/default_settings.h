#pragma once
// The settings every run starts from: the dialog's fields at start-up and veltrane-cli's
// option defaults, written once here.

#include <cstdint>

namespace DefaultSettings {

inline constexpr uint32_t kDestinationAddress = 0x7F000001;   // 127.0.0.1, in host order
inline constexpr const char* kDestinationHost = "127.0.0.1";  // the same, as a host name is written
inline constexpr uint16_t kDestinationPort = 13014;
inline constexpr uint16_t kSourcePort = 13013;
inline constexpr uint32_t kPeriodMs = 10;
inline constexpr int32_t kPacketsPerPeriod = 100;
inline constexpr uint32_t kPacketSize = 192;
inline constexpr uint32_t kSenderBufferSizeKB = 0;           // 0 (an empty field): the system's own size
inline constexpr uint32_t kReceiverAddress = 0;              // 0.0.0.0: every local interface
inline constexpr uint16_t kReceiverPort = kDestinationPort;  // one instance measures itself as it starts

// veltrane-cli's far end, where it has no dialog field or departs from the dialog's.
namespace FarEnd {

inline constexpr uint32_t kReportIntervalMs = 1000;
// A sender quiet this long ends its session: long enough that a path dead for minutes shows
// as a silent session losing every packet, not as a gap and a new session.
inline constexpr double kSessionTimeoutSeconds = 300.0;
// Senders followed at once: each session holds its own windows and histograms.
inline constexpr int kMaxSessions = 256;
// A sender asked for no load sends one voice call, about 80 kbit/s on the wire: a forgotten
// option must not fill a branch office's link.
inline constexpr const char* kVoiceCodec = "g711-20";
inline constexpr int32_t kCalls = 1;
// The system's choice: two senders on one host never meet on one port.
inline constexpr uint16_t kSourcePort = 0;
// A far end's socket holds this much (a flood of 180,000 datagrams/s for some 100 ms) before
// the host drops any.
inline constexpr uint32_t kReceiveBufferBytes = 4 << 20;

}  // namespace FarEnd

}  // namespace DefaultSettings
