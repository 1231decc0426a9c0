#include "measure/test_packet.h"

#include "base/clock.h"
#include "measure/little_endian.h"

namespace {

constexpr int kIndexOffset = 0;
constexpr int64_t kLargestWrittenGroupSize = 65535;
constexpr int kGroupNumberOffset = 8;
constexpr int kSendCounterOffset = 16;
constexpr int kFrequencyOffset = 24;

void StoreIndexAndGroup(uint8_t* packet, int32_t indexInGroup, int64_t groupNumber) {
    StoreLittleEndian(packet + kIndexOffset, static_cast<uint32_t>(indexInGroup), 4);
    StoreLittleEndian(packet + kGroupNumberOffset, static_cast<uint64_t>(groupNumber), 8);
}

}  // namespace

uint32_t EffectivePacketSize(uint32_t packetSizeSetting) {
    return packetSizeSetting < kPacketHeaderSize ? kPacketHeaderSize : packetSizeSetting;
}

void WritePacketHeader(uint8_t* packet, int32_t indexInGroup, int64_t groupNumber, Clock& clock) {
    StoreIndexAndGroup(packet, indexInGroup, groupNumber);
    // The counter is read as late as possible, just before the packet goes to the socket.
    StoreLittleEndian(packet + kSendCounterOffset, static_cast<uint64_t>(clock.Counter()), 8);
    StoreLittleEndian(packet + kFrequencyOffset, static_cast<uint64_t>(clock.Frequency()), 8);
}

void WritePacketHeader(uint8_t* packet, const TestPacketHeader& header) {
    StoreIndexAndGroup(packet, header.indexInGroup, header.groupNumber);
    StoreLittleEndian(packet + kSendCounterOffset, static_cast<uint64_t>(header.sendCounter), 8);
    StoreLittleEndian(packet + kFrequencyOffset, static_cast<uint64_t>(header.counterFrequency), 8);
}

void WriteGroupSize(uint8_t* packet, int64_t groupSize) {
    const bool fits = groupSize >= 1 && groupSize <= kLargestWrittenGroupSize;
    const auto size = static_cast<uint16_t>(fits ? groupSize : 0);
    const auto check = static_cast<uint16_t>(fits ? size ^ kGroupSizeCheckMask : 0);
    StoreLittleEndian(packet + kGroupSizeOffset, size, 2);
    StoreLittleEndian(packet + kGroupSizeCheckOffset, check, 2);
}

TestPacketHeader ReadPacketHeader(const uint8_t* packet) {
    TestPacketHeader header;
    header.indexInGroup = static_cast<int32_t>(LoadLittleEndian(packet + kIndexOffset, 4));
    header.groupNumber = static_cast<int64_t>(LoadLittleEndian(packet + kGroupNumberOffset, 8));
    header.sendCounter = static_cast<int64_t>(LoadLittleEndian(packet + kSendCounterOffset, 8));
    header.counterFrequency = static_cast<int64_t>(LoadLittleEndian(packet + kFrequencyOffset, 8));
    return header;
}
