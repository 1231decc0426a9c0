#pragma once
// The secret that keyed test packets are signed with: 32 bytes from a file that only its
// owner may read.

#include <array>
#include <cstdint>
#include <optional>
#include <string>

inline constexpr size_t kPacketKeySize = 32;
using PacketKey = std::array<uint8_t, kPacketKeySize>;

// The key in the file at `path`; nullopt, with the reason in `error`, when the file cannot be
// read, grants any access to its group or to others, or does not hold exactly 32 bytes.
std::optional<PacketKey> ReadPacketKey(const std::string& path, std::string& error);
