#include "measure/sender_name_block.h"

#include <algorithm>

#include "measure/filler_blocks.h"

namespace {

constexpr FillerMarker kNameMarker = {'N', 'A', 'M', 'E'};

bool IsPrintable(char c) {
    return c >= 0x20 && c <= 0x7E;
}

std::span<const uint8_t> Bytes(std::string_view text) {
    return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

}  // namespace

bool IsValidSenderName(std::string_view name) {
    return !name.empty() && name.size() <= kMaxSenderNameBytes && std::all_of(name.begin(), name.end(), IsPrintable);
}

uint32_t SenderNamePacketMinSize(std::string_view name) {
    return kFillerBlocksOffset + kFillerBlockHeaderSize + static_cast<uint32_t>(name.size());
}

bool WriteSenderName(uint8_t* packet, uint32_t size, std::string_view name) {
    return IsValidSenderName(name) &&
           WriteFillerBlock(packet, size, kFillerBlocksOffset, kNameMarker, Bytes(name)).has_value();
}

std::optional<std::string_view> ReadSenderName(std::span<const uint8_t> datagram) {
    const std::optional<std::span<const uint8_t>> block = FindFillerBlock(datagram, kNameMarker);
    if (!block) {
        return std::nullopt;
    }
    const std::string_view name(reinterpret_cast<const char*>(block->data()), block->size());
    return IsValidSenderName(name) ? std::optional<std::string_view>(name) : std::nullopt;
}

std::span<const uint8_t> SenderNameDecidingBytes(std::span<const uint8_t> datagram) {
    if (datagram.size() < kFillerBlocksOffset + kFillerBlockHeaderSize) {
        return {};
    }
    const std::span<const uint8_t> first = datagram.subspan(kFillerBlocksOffset);
    if (EndsFillerBlocks(first.data())) {
        return first.first(kFillerBlockHeaderSize);
    }
    const size_t length = kFillerBlockHeaderSize + first[kNameMarker.size()];
    if (!std::equal(kNameMarker.begin(), kNameMarker.end(), first.begin()) || length > first.size()) {
        return {};
    }
    return first.first(length);
}
