#include <linux/sock_diag.h>
#include <time.h>

#include <cstring>

#include "base/datagram_batch.h"
#include "base/socket_api.h"

namespace {

// Room for every control message a datagram may carry: TOS and traffic class, the kernel's
// stamp and its drop count.
constexpr size_t kControlBytes =
    CMSG_SPACE(sizeof(int)) * 2 + CMSG_SPACE(sizeof(timespec)) + CMSG_SPACE(sizeof(uint32_t));

struct alignas(cmsghdr) ControlSpace {
    unsigned char bytes[kControlBytes];
};

int64_t Nanoseconds(const timespec& time) {
    return static_cast<int64_t>(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
}

int64_t ReadNanoseconds(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return Nanoseconds(now);
}

// The monotonic clock (QueryCounter's) and the real-time clock (the kernel stamps') read at
// one instant: the real-time reading between two monotonic ones, read again when the thread
// was held up in between.
struct ClockPair {
    int64_t monotonic = 0;
    int64_t realtime = 0;
};

ClockPair ReadClocksTogether() {
    constexpr int64_t kCloseEnoughNs = 2000;
    ClockPair best;
    int64_t bestGap = INT64_MAX;
    for (int attempt = 0; attempt < 3 && bestGap > kCloseEnoughNs; ++attempt) {
        const int64_t before = ReadNanoseconds(CLOCK_MONOTONIC);
        const int64_t realtime = ReadNanoseconds(CLOCK_REALTIME);
        const int64_t after = ReadNanoseconds(CLOCK_MONOTONIC);
        if (after - before < bestGap) {
            bestGap = after - before;
            best = {before + (after - before) / 2, realtime};
        }
    }
    return best;
}

// A kernel stamp on the monotonic clock: now less the time it waited since. Only that wait
// is read from the real-time clock, so a step of it moves no arrival (unless it falls within
// the wait itself).
int64_t MonotonicArrival(const ClockPair& now, int64_t stampNs) {
    const int64_t waited = now.realtime - stampNs;
    return now.monotonic - (waited > 0 ? waited : 0);
}

}  // namespace

struct DatagramBatch::Slots {
    explicit Slots(size_t capacity) : headers(capacity), pieces(capacity), controls(capacity) {}
    std::vector<mmsghdr> headers;
    std::vector<iovec> pieces;
    std::vector<ControlSpace> controls;
};

DatagramBatch::DatagramBatch(uint32_t capacity, uint32_t datagramSize)
    : datagramSize_(datagramSize),
      buffers_(static_cast<size_t>(capacity < 1 ? 1 : capacity) * datagramSize),
      datagrams_(capacity < 1 ? 1 : capacity),
      slots_(std::make_unique<Slots>(datagrams_.size())) {}

DatagramBatch::~DatagramBatch() = default;

size_t DatagramBatch::Receive(SocketHandle handle) {
    const size_t capacity = datagrams_.size();
    for (size_t i = 0; i < capacity; ++i) {
        datagrams_[i] = BatchedDatagram{};
        datagrams_[i].received.bytes = buffers_.data() + i * datagramSize_;
        slots_->pieces[i] = iovec{buffers_.data() + i * datagramSize_, datagramSize_};
        msghdr& message = slots_->headers[i].msg_hdr;
        message = msghdr{};
        message.msg_name = datagrams_[i].received.source.storage_;
        message.msg_namelen = Endpoint::kStorageSize;
        message.msg_iov = &slots_->pieces[i];
        message.msg_iovlen = 1;
        message.msg_control = slots_->controls[i].bytes;
        message.msg_controllen = kControlBytes;
    }
    // Waits for the first datagram only, then takes what is already queued. MSG_TRUNC tells a
    // datagram's real length, so one that did not fit is seen and refused whole.
    const int count =
        recvmmsg(handle, slots_->headers.data(), static_cast<unsigned>(capacity), MSG_WAITFORONE | MSG_TRUNC, nullptr);
    size_ = 0;
    if (count <= 0) {
        return 0;
    }
    const ClockPair now = ReadClocksTogether();
    for (int i = 0; i < count; ++i) {
        msghdr& message = slots_->headers[i].msg_hdr;
        const uint64_t length = slots_->headers[i].msg_len;
        // A socket shut down to end the receive gives 0 bytes from nobody: no datagram, and
        // nothing after it.
        if (length == 0 && message.msg_namelen == 0) {
            break;
        }
        BatchedDatagram& datagram = datagrams_[size_++];
        ReceivedDatagram& received = datagram.received;
        received.source.length_ = static_cast<int>(message.msg_namelen);
        if (length > datagramSize_ || (message.msg_flags & MSG_TRUNC) != 0) {
            received.truncated = true;
            received.fullLength = static_cast<int64_t>(length);
        } else {
            received.length = static_cast<int64_t>(length);
        }
        for (cmsghdr* item = CMSG_FIRSTHDR(&message); item != nullptr; item = CMSG_NXTHDR(&message, item)) {
            if (item->cmsg_level == SOL_SOCKET && item->cmsg_type == SCM_TIMESTAMPNS) {
                timespec stamp{};
                std::memcpy(&stamp, CMSG_DATA(item), sizeof(stamp));
                datagram.kernelArrival = MonotonicArrival(now, Nanoseconds(stamp));
            } else if (item->cmsg_level == SOL_SOCKET && item->cmsg_type == SO_RXQ_OVFL) {
                uint32_t dropped = 0;
                std::memcpy(&dropped, CMSG_DATA(item), sizeof(dropped));
                drops_.Observe(dropped);
            } else if (const int value = ReceivedTrafficClass(*item); value >= 0 && !received.truncated) {
                received.trafficClass = value;
            }
        }
    }
    return size_;
}

void DatagramBatch::RefreshDrops(SocketHandle handle) {
    uint32_t memory[SK_MEMINFO_VARS] = {};
    socklen_t length = sizeof(memory);
    if (getsockopt(handle, SOL_SOCKET, SO_MEMINFO, memory, &length) == 0 &&
        length > SK_MEMINFO_DROPS * sizeof(uint32_t)) {
        drops_.Observe(memory[SK_MEMINFO_DROPS]);
    }
}
