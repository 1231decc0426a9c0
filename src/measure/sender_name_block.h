#pragma once
// The name a sender gives itself (veltrane-cli send --name), carried in a filler block of every
// test packet, so that a far end shows which sender a session is, whatever its address.

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

inline constexpr size_t kMaxSenderNameBytes = 32;

// 1 to 32 printable ASCII bytes (space to tilde): a name goes into JSON, metric labels and
// terminal text unescaped by a reader that trusts it.
bool IsValidSenderName(std::string_view name);

// The smallest packet that carries the name's block.
uint32_t SenderNamePacketMinSize(std::string_view name);

// Writes the name's block as the first filler block; false when the packet of `size` bytes
// has no room for it or the name is not valid (nothing is written then).
bool WriteSenderName(uint8_t* packet, uint32_t size, std::string_view name);

// The valid name a datagram carries, a view into its bytes (a receiver copies nothing per
// packet); none when it carries none, or one that is not valid.
std::optional<std::string_view> ReadSenderName(std::span<const uint8_t> datagram);

// The bytes from the filler's start that alone decide what ReadSenderName finds in `datagram`:
// its first block whole, when that block ends the blocks or is a name's; empty when later bytes
// may take part. A datagram that begins its filler with the same bytes reads the same.
std::span<const uint8_t> SenderNameDecidingBytes(std::span<const uint8_t> datagram);
