#include "cli/datagram_loop.h"

#include <exception>

#include "base/clock.h"
#include "base/datagram_batch.h"
#include "base/socket_wait.h"
#include "measure/receiver.h"

namespace {

// How long a wait lasts before the loop looks at its stop flag again: the latency of a stop.
constexpr int kWaitSliceMs = 10;

}  // namespace

DatagramLoop::DatagramLoop(SocketHandle socket, uint32_t datagramSize, Handler handler)
    : handler_(std::move(handler)), thread_([this, socket, datagramSize] { Run(socket, datagramSize); }) {}

DatagramLoop::~DatagramLoop() {
    Stop();
}

void DatagramLoop::Stop() {
    stop_.store(true);
    if (thread_.joinable()) {
        thread_.join();
    }
}

void DatagramLoop::Run(SocketHandle socket, uint32_t datagramSize) {
    try {
        DatagramBatch batch(BatchCapacity(datagramSize), datagramSize);
        while (!stop_.load()) {
            if (!WaitReadable(socket, kWaitSliceMs)) {
                continue;
            }
            const size_t count = batch.Receive(socket);
            const int64_t received = QueryCounter();
            for (size_t i = 0; i < count; ++i) {
                ReceivedDatagram datagram = batch[i].received;
                datagram.arrival = batch[i].kernelArrival != kNoKernelStamp ? batch[i].kernelArrival : received;
                handler_(datagram);
            }
            taken_.fetch_add(static_cast<int64_t>(count));
        }
    } catch (const std::exception& e) {
        failure_ = e.what();
        failed_.store(true);
    } catch (...) {
        failure_ = "unknown exception";
        failed_.store(true);
    }
}
