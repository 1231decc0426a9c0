#pragma once
// The reflector's stamps, a block of the filler (measure/filler_blocks.h) that a reflector
// writes after the sender's own blocks into the packet it returns. docs/packet-layout.md shows
// the bytes.

#include <cstdint>
#include <optional>

#include "measure/filler_blocks.h"

inline constexpr FillerMarker kStampsMarker = {0x53, 0x54, 0x4D, 0x50};  // "STMP"

// What a reflector writes into the packet it returns.
struct ReflectorStamps {
    int64_t receivedNs = 0;         // its monotonic clock when the packet arrived
    int64_t sentNs = 0;             // the same clock when it sent the answer
    int64_t packetsFromSource = 0;  // test packets from this source in this run, this one included
};

inline constexpr uint32_t kStampsBodySize = 24;
// The smallest packet a reflector can stamp: the header, the tag's place and the stamps' block.
inline constexpr uint32_t kStampedPacketMinSize = kFillerBlocksOffset + kFillerBlockHeaderSize + kStampsBodySize;

// Writes the stamps' block where the blocks end; false (nothing written) when it does not fit.
bool WriteStampsBlock(uint8_t* datagram, uint32_t length, const ReflectorStamps& stamps);

// Whether the datagram carries a reflector's stamps' block, of any size.
bool CarriesStamps(const uint8_t* datagram, uint32_t length);

// The stamps a reflector wrote; none when the datagram carries none of the right size.
std::optional<ReflectorStamps> ReadStampsBlock(const uint8_t* datagram, uint32_t length);
