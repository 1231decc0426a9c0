#include "measure/filler_blocks.h"

#include <algorithm>

namespace {

constexpr FillerMarker kNoMoreBlocks = {0, 0, 0, 0};

// Hands each block from byte 48 on to `visit` (the bytes from its marker on, and its length)
// until `visit` returns true; returns where the walk stopped, or none when a block runs past
// the end of the datagram. Each step moves forward by at least the block header, so the walk
// ends within the datagram.
template <typename Visit>
std::optional<size_t> WalkBlocks(std::span<const uint8_t> datagram, Visit visit) {
    size_t offset = kFillerBlocksOffset;
    while (offset + kFillerBlockHeaderSize <= datagram.size()) {
        const std::span<const uint8_t> at = datagram.subspan(offset);
        if (EndsFillerBlocks(at.data())) {
            break;
        }
        const size_t length = at[kNoMoreBlocks.size()];
        if (kFillerBlockHeaderSize + length > at.size()) {
            return std::nullopt;  // cut short: not a block this layout wrote
        }
        if (visit(at, length)) {
            break;
        }
        offset += kFillerBlockHeaderSize + length;
    }
    return offset;
}

}  // namespace

bool EndsFillerBlocks(const uint8_t* at) {
    return std::equal(kNoMoreBlocks.begin(), kNoMoreBlocks.end(), at);
}

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

std::optional<std::span<const uint8_t>> FindFillerBlock(std::span<const uint8_t> datagram, const FillerMarker& marker) {
    std::optional<std::span<const uint8_t>> found;
    const std::optional<size_t> end = WalkBlocks(datagram, [&](std::span<const uint8_t> at, size_t length) {
        if (std::equal(marker.begin(), marker.end(), at.begin())) {
            found = at.subspan(kFillerBlockHeaderSize, length);
        }
        return found.has_value();
    });
    return end ? found : std::nullopt;
}

std::optional<uint32_t> FillerBlocksEnd(const uint8_t* datagram, uint32_t length) {
    if (length < kFillerBlocksOffset) {
        return std::nullopt;
    }
    const std::optional<size_t> end =
        WalkBlocks(std::span<const uint8_t>(datagram, length), [](std::span<const uint8_t>, size_t) { return false; });
    return end ? std::optional<uint32_t>(static_cast<uint32_t>(*end)) : std::nullopt;
}
