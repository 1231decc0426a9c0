#pragma once
// A second consumer of the datagrams a receiver reads, on its receiving thread, after the
// receiver's own accounting: the command line's far end keeps its sessions through it.

#include <cstdint>

#include "base/udp_socket.h"

class DatagramSink {
  public:
    virtual ~DatagramSink() = default;
    // `trafficClass`: the TOS / traffic class byte, -1 when not read.
    virtual void TakeDatagram(const uint8_t* datagram, int64_t length, const Endpoint& source, int trafficClass) = 0;
    // A datagram longer than the receive buffer, dropped whole (`fullLength`: 0 when the
    // system does not tell it): no test packet, yet its sender sent it.
    virtual void TakeOversizedDatagram(const Endpoint& source, int64_t fullLength) = 0;
};
