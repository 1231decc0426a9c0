#include "measure/packet_blocks.h"

#include <cstring>

namespace {

uint16_t ReadU16(const uint8_t* bytes) {
    return static_cast<uint16_t>(bytes[0] | (bytes[1] << 8));
}

void WriteU16(uint8_t* bytes, uint16_t value) {
    bytes[0] = static_cast<uint8_t>(value);
    bytes[1] = static_cast<uint8_t>(value >> 8);
}

int64_t ReadI64(const uint8_t* bytes) {
    uint64_t value = 0;
    for (int i = 7; i >= 0; --i) {
        value = value << 8 | bytes[i];
    }
    return static_cast<int64_t>(value);
}

void WriteI64(uint8_t* bytes, int64_t value) {
    const auto bits = static_cast<uint64_t>(value);
    for (int i = 0; i < 8; ++i) {
        bytes[i] = static_cast<uint8_t>(bits >> (8 * i));
    }
}

void WriteStampsBody(uint8_t* datagram, uint32_t bodyOffset, const ReflectorStamps& stamps) {
    WriteI64(datagram + bodyOffset, stamps.receivedNs);
    WriteI64(datagram + bodyOffset + 8, stamps.sentNs);
    WriteI64(datagram + bodyOffset + 16, stamps.packetsFromSource);
}

// Calls `visit(offset, kind, bodyLength)` for each whole block until it returns true or the
// sequence ends; returns the offset where it stopped. Lengths are widened before they are
// added, so no hostile length wraps the walk back into the datagram.
template <typename Visit>
std::optional<uint32_t> WalkBlocks(const uint8_t* datagram, uint32_t length, Visit visit) {
    if (length < kFirstBlockOffset) {
        return std::nullopt;
    }
    uint64_t offset = kFirstBlockOffset;
    while (offset + kBlockHeaderSize <= length) {
        const uint16_t kind = ReadU16(datagram + offset);
        const uint16_t bodyLength = ReadU16(datagram + offset + 2);
        if (kind == static_cast<uint16_t>(BlockKind::End) || offset + kBlockHeaderSize + bodyLength > length ||
            visit(static_cast<uint32_t>(offset), kind, bodyLength)) {
            break;
        }
        offset += kBlockHeaderSize + bodyLength;
    }
    return static_cast<uint32_t>(offset);
}

}  // namespace

std::optional<uint32_t> BlockSequenceEnd(const uint8_t* datagram, uint32_t length) {
    return WalkBlocks(datagram, length, [](uint32_t, uint16_t, uint16_t) { return false; });
}

std::optional<uint32_t> FindBlock(const uint8_t* datagram, uint32_t length, BlockKind kind) {
    bool found = false;
    const std::optional<uint32_t> at = WalkBlocks(datagram, length, [&](uint32_t, uint16_t k, uint16_t) {
        found = k == static_cast<uint16_t>(kind);
        return found;
    });
    return found ? std::optional<uint32_t>(*at + kBlockHeaderSize) : std::nullopt;
}

bool WriteStampsBlock(uint8_t* datagram, uint32_t length, const ReflectorStamps& stamps) {
    const std::optional<uint32_t> end = BlockSequenceEnd(datagram, length);
    if (!end || uint64_t{*end} + kBlockHeaderSize + kStampsBodySize > length) {
        return false;
    }
    WriteU16(datagram + *end, static_cast<uint16_t>(BlockKind::ReflectorStamps));
    WriteU16(datagram + *end + 2, kStampsBodySize);
    WriteStampsBody(datagram, *end + kBlockHeaderSize, stamps);
    return true;
}

std::optional<ReflectorStamps> ReadStampsBlock(const uint8_t* datagram, uint32_t length) {
    const std::optional<uint32_t> body = FindBlock(datagram, length, BlockKind::ReflectorStamps);
    if (!body || ReadU16(datagram + *body - 2) != kStampsBodySize) {
        return std::nullopt;
    }
    return ReflectorStamps{ReadI64(datagram + *body), ReadI64(datagram + *body + 8), ReadI64(datagram + *body + 16)};
}
