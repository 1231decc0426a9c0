#pragma once
// The blocks a test packet carries after its tag (from byte 48 on): kind, body length, body,
// until a block of kind 0 or the end of the datagram. docs/packet-layout.md shows the bytes.
// The reflector's stamps are such a block.

#include <cstdint>
#include <optional>

inline constexpr uint32_t kFirstBlockOffset = 48;
inline constexpr uint32_t kBlockHeaderSize = 4;

enum class BlockKind : uint16_t { End = 0, SenderName = 1, ReflectorStamps = 2 };

// What a reflector writes into the packet it returns.
struct ReflectorStamps {
    int64_t receivedNs = 0;         // its monotonic clock when the packet arrived
    int64_t sentNs = 0;             // the same clock when it sent the answer
    int64_t packetsFromSource = 0;  // test packets from this source in this run, this one included
};

inline constexpr uint32_t kStampsBodySize = 24;
// The smallest packet a reflector can stamp: the header, the tag's place and one stamps block.
inline constexpr uint32_t kStampedPacketMinSize = kFirstBlockOffset + kBlockHeaderSize + kStampsBodySize;

// Where the block sequence of a datagram of `length` bytes ends: the offset of its kind-0 block,
// or of the first block that does not fit; nullopt when the datagram is too short for any block.
std::optional<uint32_t> BlockSequenceEnd(const uint8_t* datagram, uint32_t length);

// The body offset of the first block of `kind`; nullopt when the sequence has none that fits.
std::optional<uint32_t> FindBlock(const uint8_t* datagram, uint32_t length, BlockKind kind);

// Writes the stamps block where the sequence ends; false (nothing written) when it does not fit.
bool WriteStampsBlock(uint8_t* datagram, uint32_t length, const ReflectorStamps& stamps);

// The stamps a reflector wrote; nullopt when the datagram carries none of the right size.
std::optional<ReflectorStamps> ReadStampsBlock(const uint8_t* datagram, uint32_t length);
