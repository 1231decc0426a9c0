#pragma once
// The datagram a sender sends when it ends a run on purpose, so that a far end closes the
// sender's session at once and counts no loss for the time after, nor for the packets a stop
// left unsent in the last group. It is shorter than any test packet and its first four bytes
// read as a negative packet index, so that a receiver that does not know it counts only its
// bytes. docs/packet-layout.md shows its bytes.

#include <cstdint>
#include <optional>

// Without a tag; a keyed sender appends its tag right after these bytes.
inline constexpr uint32_t kEndOfRunSize = 24;
// A sender sends it this many times: one lost copy must not leave the session open.
inline constexpr int kEndOfRunCopies = 3;
// And this far apart.
inline constexpr uint32_t kEndOfRunCopySpacingMs = 1;

struct EndOfRun {
    int64_t lastGroup = -1;           // the last group of which a packet was sent; -1: none (nothing is sent)
    uint32_t packetsInLastGroup = 0;  // how many of its packets were sent
    int64_t sendCounter = 0;          // the sender's counter when the datagram was made
};

void WriteEndOfRun(uint8_t* datagram, const EndOfRun& end);

// Whether a datagram of `length` bytes begins as an end of run does (its tag, if any, is
// not looked at here).
bool IsEndOfRun(const uint8_t* datagram, int64_t length);

// The end of run a datagram carries; none when it is no end of run.
std::optional<EndOfRun> ReadEndOfRun(const uint8_t* datagram, int64_t length);
