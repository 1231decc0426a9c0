#include "base/datagram_batch.h"

// Windows has no batched receive nor kernel stamps: one blocking receive per call, stamped by
// the receiver's clock read right after it.
struct DatagramBatch::Slots {};

DatagramBatch::DatagramBatch(uint32_t, uint32_t datagramSize)
    : datagramSize_(datagramSize), buffers_(datagramSize), datagrams_(1) {}

DatagramBatch::~DatagramBatch() = default;

size_t DatagramBatch::Receive(SocketHandle handle) {
    BatchedDatagram& datagram = datagrams_[0];
    datagram.received = UdpSocket::ReceiveOn(handle, buffers_.data(), datagramSize_);
    size_ = datagram.received.length >= 0 || datagram.received.truncated ? 1 : 0;
    return size_;
}

void DatagramBatch::RefreshDrops(SocketHandle) {}
