#pragma once
// A second consumer of the datagrams a receiver reads, on its receiving thread, after the
// receiver's own accounting: the command line's far end keeps its sessions through it.

#include "base/udp_socket.h"

class DatagramSink {
  public:
    virtual ~DatagramSink() = default;
    // One datagram as received, with its arrival. One longer than the receive buffer comes
    // `truncated`, without bytes: no test packet, yet its sender sent it.
    virtual void TakeDatagram(const ReceivedDatagram& datagram) = 0;
};
