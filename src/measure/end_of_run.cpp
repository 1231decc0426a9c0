#include "measure/end_of_run.h"

#include <algorithm>
#include <iterator>

#include "measure/little_endian.h"

namespace {

// "END" and a byte with its top bit set: as a test packet's index, a negative number.
constexpr uint8_t kMarker[] = {'E', 'N', 'D', 0xFF};
constexpr int kPacketsOffset = 4;
constexpr int kLastGroupOffset = 8;
constexpr int kSendCounterOffset = 16;

}  // namespace

void WriteEndOfRun(uint8_t* datagram, const EndOfRun& end) {
    std::copy(std::begin(kMarker), std::end(kMarker), datagram);
    StoreLittleEndian(datagram + kPacketsOffset, end.packetsInLastGroup, 4);
    StoreLittleEndian(datagram + kLastGroupOffset, static_cast<uint64_t>(end.lastGroup), 8);
    StoreLittleEndian(datagram + kSendCounterOffset, static_cast<uint64_t>(end.sendCounter), 8);
}

bool IsEndOfRun(const uint8_t* datagram, int64_t length) {
    return length >= static_cast<int64_t>(kEndOfRunSize) &&
           std::equal(std::begin(kMarker), std::end(kMarker), datagram);
}

std::optional<EndOfRun> ReadEndOfRun(const uint8_t* datagram, int64_t length) {
    if (!IsEndOfRun(datagram, length)) {
        return std::nullopt;
    }
    EndOfRun end;
    end.packetsInLastGroup = static_cast<uint32_t>(LoadLittleEndian(datagram + kPacketsOffset, 4));
    end.lastGroup = static_cast<int64_t>(LoadLittleEndian(datagram + kLastGroupOffset, 8));
    end.sendCounter = static_cast<int64_t>(LoadLittleEndian(datagram + kSendCounterOffset, 8));
    return end;
}
