#pragma once
// A UDP socket of the test driver on 127.0.0.1: holds a port, receives what the program sends
// and sends to it.

#include <winsock2.h>

#include <cstdint>
#include <vector>

class UdpProbe {
  public:
    // Binds 127.0.0.1 on `port` (0: a free port the system picks). Valid() tells whether it worked.
    explicit UdpProbe(uint16_t port = 0);
    UdpProbe(const UdpProbe&) = delete;
    UdpProbe& operator=(const UdpProbe&) = delete;
    ~UdpProbe();

    bool Valid() const { return socket_ != INVALID_SOCKET; }
    uint16_t Port() const { return port_; }

    // One datagram of up to 64 KB, or an empty vector when none came within `timeoutMs`
    // (a zero-length datagram also reads as empty).
    std::vector<uint8_t> Receive(uint32_t timeoutMs);

    // One datagram to `port` on 127.0.0.1; false when it was not sent whole.
    bool SendTo(uint16_t port, const std::vector<uint8_t>& datagram);

  private:
    SOCKET socket_ = INVALID_SOCKET;
    uint16_t port_ = 0;
};

// A UDP port on 127.0.0.1 that nothing holds right now, for a test of its own.
uint16_t FreeUdpPort();
