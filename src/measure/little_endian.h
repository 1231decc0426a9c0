#pragma once
// The wire's numbers are little-endian at any offset, so that the format does not depend on the
// host's byte order or alignment. On a little-endian host that is the host's own layout, and a
// copy of the bytes (one load or store once inlined) is all it takes; elsewhere byte by byte.

#include <bit>
#include <cstdint>
#include <cstring>

// `bytes`: 1 to 8.
inline void StoreLittleEndian(uint8_t* at, uint64_t value, int bytes) {
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(at, &value, static_cast<size_t>(bytes));
    } else {
        for (int i = 0; i < bytes; ++i) {
            at[i] = static_cast<uint8_t>(value >> (8 * i));
        }
    }
}

inline uint64_t LoadLittleEndian(const uint8_t* at, int bytes) {
    uint64_t value = 0;
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(&value, at, static_cast<size_t>(bytes));
    } else {
        for (int i = 0; i < bytes; ++i) {
            value |= static_cast<uint64_t>(at[i]) << (8 * i);
        }
    }
    return value;
}
