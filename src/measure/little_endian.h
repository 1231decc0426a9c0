#pragma once
// The wire's numbers are written byte by byte in little-endian order, so that the format does
// not depend on the host's byte order or alignment.

#include <cstdint>

inline void StoreLittleEndian(uint8_t* at, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        at[i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

inline uint64_t LoadLittleEndian(const uint8_t* at, int bytes) {
    uint64_t value = 0;
    for (int i = 0; i < bytes; ++i) {
        value |= static_cast<uint64_t>(at[i]) << (8 * i);
    }
    return value;
}
