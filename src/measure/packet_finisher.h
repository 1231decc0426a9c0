#pragma once
// A last step the sender applies to each test packet after writing its header and before
// sending it, on the sender's thread. The engine sends every byte unchanged without one;
// a front end that signs its packets supplies one.

#include <cstdint>

class PacketFinisher {
  public:
    virtual ~PacketFinisher() = default;
    // `packet`: the whole datagram of `size` bytes, header written; may change any byte.
    virtual void Finish(uint8_t* packet, uint32_t size) = 0;
};
