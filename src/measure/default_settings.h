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

}  // namespace DefaultSettings
