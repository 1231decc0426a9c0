#include "measure/test_packet.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <vector>

#include "measure_test_support.h"

namespace {

TEST(TestPacket, WorkedExampleByteForByte) {
    // First packet of group 5, counter 123,456,789 at 10,000,000 counts/s, 192 bytes.
    ManualClock clock(10'000'000);
    clock.now = 123'456'789;
    std::vector<uint8_t> packet(192, 0xEE);
    WritePacketHeader(packet.data(), 0, 5, clock);

    const std::vector<uint8_t> expected = {
        0x00, 0x00, 0x00, 0x00, 0xEE, 0xEE, 0xEE, 0xEE,  // index, padding untouched
        0x05, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // group number
        0x15, 0xCD, 0x5B, 0x07, 0x00, 0x00, 0x00, 0x00,  // send counter
        0x80, 0x96, 0x98, 0x00, 0x00, 0x00, 0x00, 0x00,  // counter frequency
    };
    EXPECT_EQ(std::vector<uint8_t>(packet.begin(), packet.begin() + 32), expected);
    EXPECT_EQ(std::vector<uint8_t>(packet.begin() + 32, packet.end()), std::vector<uint8_t>(160, 0xEE));
}

TEST(TestPacket, HeaderRoundTripsIncludingExtremeValues) {
    const TestPacketHeader written{-1, INT64_MAX, INT64_MIN, -7};
    std::vector<uint8_t> packet(32);
    WritePacketHeader(packet.data(), written);
    const TestPacketHeader read = ReadPacketHeader(packet.data());
    EXPECT_EQ(read.indexInGroup, -1);
    EXPECT_EQ(read.groupNumber, INT64_MAX);
    EXPECT_EQ(read.sendCounter, INT64_MIN);
    EXPECT_EQ(read.counterFrequency, -7);
    EXPECT_EQ(packet[0], 0xFF);
    EXPECT_EQ(packet[15], 0x7F);
}

TEST(TestPacket, GroupSizeInThePaddingByteForByte) {
    struct Case {
        int64_t groupSize;
        std::vector<uint8_t> padding;
        std::optional<uint16_t> read;
    };
    const Case cases[] = {
        {1, {0x01, 0x00, 0x5B, 0xA5}, 1},
        {100, {0x64, 0x00, 0x3E, 0xA5}, 100},
        {65535, {0xFF, 0xFF, 0xA5, 0x5A}, 65535},
        {65536, {0x00, 0x00, 0x00, 0x00}, std::nullopt},  // too large to write: no size
        {0, {0x00, 0x00, 0x00, 0x00}, std::nullopt},
        {-1, {0x00, 0x00, 0x00, 0x00}, std::nullopt},
    };
    for (const Case& c : cases) {
        std::vector<uint8_t> packet(40, 0xEE);
        WriteGroupSize(packet.data(), c.groupSize);
        EXPECT_EQ(std::vector<uint8_t>(packet.begin() + 4, packet.begin() + 8), c.padding) << c.groupSize;
        EXPECT_EQ(ReadGroupSize(packet.data()), c.read) << c.groupSize;
        packet.erase(packet.begin() + 4, packet.begin() + 8);
        EXPECT_EQ(packet, std::vector<uint8_t>(36, 0xEE)) << "only the padding changes";
    }
}

TEST(TestPacket, PaddingThatFailsItsCheckGivesNoGroupSize) {
    const std::vector<std::vector<uint8_t>> paddings = {
        {0xCD, 0xCD, 0xCD, 0xCD},  // undefined memory of a debug heap
        {0x64, 0x00, 0x3F, 0xA5},  // one bit of the check flipped
        {0x00, 0x00, 0x5A, 0xA5},  // size 0 with a matching check
    };
    for (const auto& padding : paddings) {
        std::vector<uint8_t> packet(32);
        std::copy(padding.begin(), padding.end(), packet.begin() + 4);
        EXPECT_EQ(ReadGroupSize(packet.data()), std::nullopt) << int{padding[0]};
    }
}

TEST(TestPacket, PacketSizeIsRaisedToTheHeader) {
    EXPECT_EQ(EffectivePacketSize(0), 32u);
    EXPECT_EQ(EffectivePacketSize(31), 32u);
    EXPECT_EQ(EffectivePacketSize(32), 32u);
    EXPECT_EQ(EffectivePacketSize(192), 192u);
}

}  // namespace
