#pragma once
// The UDP test packet: a 32-byte little-endian header followed by filler up to the
// packet size.

#include <cstdint>
#include <optional>

#include "measure/little_endian.h"

struct Clock;

inline constexpr uint32_t kPacketHeaderSize = 32;

// The header fields of one test packet.
struct TestPacketHeader {
    int32_t indexInGroup = 0;
    int64_t groupNumber = 0;
    int64_t sendCounter = 0;
    int64_t counterFrequency = 0;
};

// The datagram length for a packet size setting: the setting, raised to the header size.
uint32_t EffectivePacketSize(uint32_t packetSizeSetting);

// Writes the header into the first 32 bytes of `packet`: the index and group number, then
// the clock's counter and frequency, read in that order. Padding and filler are untouched.
void WritePacketHeader(uint8_t* packet, int32_t indexInGroup, int64_t groupNumber, Clock& clock);

// Writes all four header fields as given (for tests and tools).
void WritePacketHeader(uint8_t* packet, const TestPacketHeader& header);

// Writes the group size into the four padding bytes at offset 4: the size (1 to 65,535) and
// the size XOR 0xA55A, both 16-bit little-endian; any other size as four zero bytes. The
// sender writes it once per run: the headers written later leave the padding untouched.
void WriteGroupSize(uint8_t* packet, int64_t groupSize);

inline constexpr int kGroupSizeOffset = 4;
inline constexpr int kGroupSizeCheckOffset = 6;
inline constexpr uint16_t kGroupSizeCheckMask = 0xA55A;

// The group size from the padding of a 32-byte header, only when its check holds and it is at
// least 1: zero padding, and undefined padding such as 0xCDCDCDCD, give none. Inline: returned
// from a call, the optional went through memory, and the load of it stalled every datagram.
inline std::optional<uint16_t> ReadGroupSize(const uint8_t* packet) {
    const auto size = static_cast<uint16_t>(LoadLittleEndian(packet + kGroupSizeOffset, 2));
    const auto check = static_cast<uint16_t>(LoadLittleEndian(packet + kGroupSizeCheckOffset, 2));
    if (size == 0 || (size ^ kGroupSizeCheckMask) != check) {
        return std::nullopt;
    }
    return size;
}

// Reads the header from the first 32 bytes of `packet`.
TestPacketHeader ReadPacketHeader(const uint8_t* packet);
