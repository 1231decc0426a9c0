#include "measure/packet_blocks.h"

#include <algorithm>
#include <array>
#include <span>

#include "measure/little_endian.h"

std::optional<uint32_t> FillerBlocksEnd(const uint8_t* datagram, uint32_t length) {
    if (length < kFillerBlocksOffset) {
        return std::nullopt;
    }
    uint64_t offset = kFillerBlocksOffset;
    while (offset + kFillerBlockHeaderSize <= length) {
        const uint8_t* at = datagram + offset;
        if (std::all_of(at, at + 4, [](uint8_t byte) { return byte == 0; })) {
            break;
        }
        const uint64_t next = offset + kFillerBlockHeaderSize + at[4];
        if (next > length) {
            return std::nullopt;
        }
        offset = next;
    }
    return static_cast<uint32_t>(offset);
}

bool WriteStampsBlock(uint8_t* datagram, uint32_t length, const ReflectorStamps& stamps) {
    const std::optional<uint32_t> end = FillerBlocksEnd(datagram, length);
    if (!end) {
        return false;
    }
    std::array<uint8_t, kStampsBodySize> body{};
    StoreLittleEndian(body.data(), static_cast<uint64_t>(stamps.receivedNs), 8);
    StoreLittleEndian(body.data() + 8, static_cast<uint64_t>(stamps.sentNs), 8);
    StoreLittleEndian(body.data() + 16, static_cast<uint64_t>(stamps.packetsFromSource), 8);
    return WriteFillerBlock(datagram, length, *end, kStampsMarker, body).has_value();
}

bool CarriesStamps(const uint8_t* datagram, uint32_t length) {
    return FindFillerBlock(std::span<const uint8_t>(datagram, length), kStampsMarker).has_value();
}

std::optional<ReflectorStamps> ReadStampsBlock(const uint8_t* datagram, uint32_t length) {
    const auto body = FindFillerBlock(std::span<const uint8_t>(datagram, length), kStampsMarker);
    if (!body || body->size() != kStampsBodySize) {
        return std::nullopt;
    }
    const uint8_t* b = body->data();
    return ReflectorStamps{static_cast<int64_t>(LoadLittleEndian(b, 8)),
                           static_cast<int64_t>(LoadLittleEndian(b + 8, 8)),
                           static_cast<int64_t>(LoadLittleEndian(b + 16, 8))};
}
