#pragma once
// A thread that hands every datagram arriving on a socket, with its arrival, to a handler until
// it is stopped. It waits with a short time-out rather than blocking, so that it stops without
// the socket being closed under it: the socket may be shared with a sender.

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <thread>

#include "base/udp_socket.h"

class DatagramLoop {
  public:
    using Handler = std::function<void(const ReceivedDatagram&)>;

    // Starts taking datagrams of up to `datagramSize` bytes from `socket`, which must stay open
    // until the loop has stopped; `handler` runs on the loop's thread only.
    DatagramLoop(SocketHandle socket, uint32_t datagramSize, Handler handler);
    ~DatagramLoop();  // stops
    DatagramLoop(const DatagramLoop&) = delete;
    DatagramLoop& operator=(const DatagramLoop&) = delete;

    // Ends the thread within one wait's time-out and joins it.
    void Stop();

    // The datagrams taken so far (for a wait until the last of them have come).
    int64_t Taken() const { return taken_.load(); }
    // Set when the handler threw: the loop ended with this text.
    bool Failed() const { return failed_.load(); }
    std::string FailureText() const { return failed_.load() ? failure_ : std::string(); }

  private:
    void Run(SocketHandle socket, uint32_t datagramSize);

    Handler handler_;
    std::atomic<bool> stop_{false};
    std::atomic<int64_t> taken_{0};
    std::atomic<bool> failed_{false};
    std::string failure_;  // written before failed_ is set, read after it is seen
    std::thread thread_;   // last: started once the members above exist
};
