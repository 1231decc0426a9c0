#pragma once
// A last step the sender applies to each test packet (and to its end-of-run datagram) after
// writing its header and before sending it, on the sender's thread. The engine sends every byte unchanged without one;
// a front end that signs its packets supplies one.

#include <cstdint>

class PacketFinisher {
  public:
    virtual ~PacketFinisher() = default;
    // `packet`: the whole datagram of `size` bytes, header written; may change any byte.
    virtual void Finish(uint8_t* packet, uint32_t size) = 0;
    // The bytes it writes after an end-of-run datagram's own (measure/end_of_run.h), for
    // which the sender leaves room.
    virtual uint32_t TrailerSize() const { return 0; }
};
