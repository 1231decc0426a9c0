#include "measure/filler_blocks.h"

#include <algorithm>

namespace {

constexpr FillerMarker kNoMoreBlocks = {0, 0, 0, 0};

}  // namespace

std::optional<uint32_t> WriteFillerBlock(uint8_t* packet,
                                         uint32_t size,
                                         uint32_t offset,
                                         const FillerMarker& marker,
                                         std::span<const uint8_t> bytes) {
    // In 64 bits: an offset near the top of the range must not wrap into a fit.
    const uint64_t end = uint64_t{offset} + kFillerBlockHeaderSize + bytes.size();
    if (bytes.size() > kMaxFillerBlockBytes || end > size || marker == kNoMoreBlocks) {
        return std::nullopt;
    }
    std::copy(marker.begin(), marker.end(), packet + offset);
    packet[offset + marker.size()] = static_cast<uint8_t>(bytes.size());
    std::copy(bytes.begin(), bytes.end(), packet + offset + kFillerBlockHeaderSize);
    return static_cast<uint32_t>(end);
}

// Each step moves forward by at least the block header, so the walk ends within the datagram.
std::optional<std::span<const uint8_t>> FindFillerBlock(std::span<const uint8_t> datagram, const FillerMarker& marker) {
    size_t offset = kFillerBlocksOffset;
    while (offset + kFillerBlockHeaderSize <= datagram.size()) {
        const std::span<const uint8_t> at = datagram.subspan(offset);
        if (std::equal(kNoMoreBlocks.begin(), kNoMoreBlocks.end(), at.begin())) {
            return std::nullopt;
        }
        const size_t length = at[marker.size()];
        if (kFillerBlockHeaderSize + length > at.size()) {
            return std::nullopt;  // cut short: not a block this layout wrote
        }
        if (std::equal(marker.begin(), marker.end(), at.begin())) {
            return at.subspan(kFillerBlockHeaderSize, length);
        }
        offset += kFillerBlockHeaderSize + length;
    }
    return std::nullopt;
}
