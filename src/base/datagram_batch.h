#pragma once
// Several datagrams from one receive call, each with its own source, TOS byte and arrival
// stamp, and the kernel's count of datagrams the socket dropped.

#include <cstdint>
#include <memory>
#include <vector>

#include "base/udp_socket.h"

// The kernel's count of datagrams dropped at one socket, widened: the kernel keeps it in 32
// bits and tells it only with a later datagram, so it may wrap between two that tell it.
class DropCount {
  public:
    // A cumulative count as the kernel told it (since the socket was opened).
    void Observe(uint32_t kernelCount);
    int64_t Total() const { return total_; }

  private:
    uint32_t last_ = 0;
    int64_t total_ = 0;
};

// One datagram of a batch.
struct BatchedDatagram {
    ReceivedDatagram received;  // its arrival left to the receiver
    // The kernel's stamp of its arrival as a QueryCounter value; kNoKernelStamp where the
    // system gave none (the receiver then reads its clock after the receive).
    int64_t kernelArrival = -1;
};

inline constexpr int64_t kNoKernelStamp = -1;

// Receives up to `capacity` datagrams of up to `datagramSize` bytes per call; owns their
// buffers. Windows receives one at a time.
class DatagramBatch {
  public:
    DatagramBatch(uint32_t capacity, uint32_t datagramSize);
    ~DatagramBatch();
    DatagramBatch(const DatagramBatch&) = delete;
    DatagramBatch& operator=(const DatagramBatch&) = delete;

    // Blocks until a datagram arrives, then takes the others already waiting (up to the
    // capacity) without waiting more. Returns how many it holds; 0 after an error or when the
    // socket was shut down to end the receive. A datagram too long for its buffer is held as
    // truncated; a failed receive among the rest ends the batch there.
    size_t Receive(SocketHandle handle);

    size_t Size() const { return size_; }
    const BatchedDatagram& operator[](size_t i) const { return datagrams_[i]; }

    // Reads the socket's drop count now (where the system tells it without a datagram):
    // drops after the last datagram received are told by no later one.
    void RefreshDrops(SocketHandle handle);

    // The drops the kernel told so far, all sources together.
    int64_t HostDrops() const { return drops_.Total(); }

  private:
    struct Slots;  // the system's receive records

    uint32_t datagramSize_;
    std::vector<uint8_t> buffers_;
    std::vector<BatchedDatagram> datagrams_;
    std::unique_ptr<Slots> slots_;
    size_t size_ = 0;
    DropCount drops_;
};
