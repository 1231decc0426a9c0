#include "measure/packet_blocks.h"

#include <array>
#include <span>

#include "measure/little_endian.h"

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
