#pragma once
// The blocks a test packet may carry in its filler, from byte 48 on (after the room a keyed
// run's tag takes, whether or not the run is keyed, so that a block sits at one place in every
// run). Each block is a 4-byte marker, a length byte and that many bytes; the blocks follow
// one another, and the first four zero bytes end them (the filler is zero elsewhere).
// docs/packet-layout.md shows the layout.

#include <array>
#include <cstdint>
#include <optional>
#include <span>

inline constexpr uint32_t kFillerBlocksOffset = 48;
inline constexpr uint32_t kFillerBlockHeaderSize = 5;  // the marker and the length byte
inline constexpr uint32_t kMaxFillerBlockBytes = 255;

using FillerMarker = std::array<uint8_t, 4>;

// Writes a block at `offset` of a packet of `size` bytes; returns the offset after it, or none
// (and writes nothing) when it does not fit or has more bytes than a length byte counts.
std::optional<uint32_t> WriteFillerBlock(uint8_t* packet,
                                         uint32_t size,
                                         uint32_t offset,
                                         const FillerMarker& marker,
                                         std::span<const uint8_t> bytes);

// Whether the four bytes at `at` are the zero bytes that end the blocks.
bool EndsFillerBlocks(const uint8_t* at);

// Where the blocks of a datagram of `length` bytes end (at four zero bytes or the datagram's
// end); none when it is too short for blocks or a block runs past its end (no block is trusted).
std::optional<uint32_t> FillerBlocksEnd(const uint8_t* datagram, uint32_t length);

// The bytes of the first block with `marker`, looked for from byte 48 on; none when there is
// none, or when a block before it runs past the end of the datagram (no block is then trusted).
std::optional<std::span<const uint8_t>> FindFillerBlock(std::span<const uint8_t> datagram, const FillerMarker& marker);
