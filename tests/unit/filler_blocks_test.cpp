// The filler's blocks and the sender's name among them: the bytes on the wire, and datagrams
// from anyone (cut short, lying about their length, with stray bytes) read as no name.

#include "measure/filler_blocks.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "measure/sender_name_block.h"

namespace {

std::span<const uint8_t> Span(const std::vector<uint8_t>& bytes) {
    return {bytes.data(), bytes.size()};
}

TEST(SenderNameBlock, TheNameGoesFromByte48AsMarkerLengthAndBytes) {
    std::vector<uint8_t> packet(64, 0);
    ASSERT_TRUE(WriteSenderName(packet.data(), 64, "site-7"));
    const std::vector<uint8_t> expected = {'N', 'A', 'M', 'E', 6, 's', 'i', 't', 'e', '-', '7'};
    EXPECT_EQ(std::vector<uint8_t>(packet.begin() + 48, packet.begin() + 59), expected);
    EXPECT_EQ(std::vector<uint8_t>(packet.begin(), packet.begin() + 48), std::vector<uint8_t>(48, 0));
    EXPECT_EQ(std::vector<uint8_t>(packet.begin() + 59, packet.end()), std::vector<uint8_t>(5, 0));
    EXPECT_EQ(ReadSenderName(Span(packet)), "site-7");

    // The smallest packet that holds it, and one byte less: refused, nothing written.
    EXPECT_EQ(SenderNamePacketMinSize("site-7"), 59u);
    std::vector<uint8_t> exact(59, 0);
    EXPECT_TRUE(WriteSenderName(exact.data(), 59, "site-7"));
    EXPECT_EQ(ReadSenderName(Span(exact)), "site-7");
    std::vector<uint8_t> small(58, 0);
    EXPECT_FALSE(WriteSenderName(small.data(), 58, "site-7"));
    EXPECT_EQ(small, std::vector<uint8_t>(58, 0));
}

TEST(SenderNameBlock, OnlyOneTo32PrintableBytesAreAName) {
    EXPECT_TRUE(IsValidSenderName("a"));
    EXPECT_TRUE(IsValidSenderName(std::string(32, '~')));
    EXPECT_TRUE(IsValidSenderName("branch 12 (north)"));
    for (const std::string& bad : {std::string(), std::string(33, 'a'), std::string("tab\there"),
                                   std::string("nul\0x", 5), std::string("del\x7F"), std::string("caf\xC3\xA9")}) {
        EXPECT_FALSE(IsValidSenderName(bad)) << bad;
        std::vector<uint8_t> packet(128, 0);
        EXPECT_FALSE(WriteSenderName(packet.data(), 128, bad)) << bad;
    }
}

TEST(SenderNameBlock, AFillerWithoutAValidNameBlockCarriesNone) {
    EXPECT_EQ(ReadSenderName(Span(std::vector<uint8_t>(172, 0))), std::nullopt);  // the dialog's zero filler
    EXPECT_EQ(ReadSenderName(Span(std::vector<uint8_t>(40, 0))), std::nullopt);   // too short for any block
    EXPECT_EQ(ReadSenderName(Span(std::vector<uint8_t>(172, 0xCD))), std::nullopt);

    std::vector<uint8_t> packet(64, 0);
    ASSERT_TRUE(WriteSenderName(packet.data(), 64, "site-7"));
    std::vector<uint8_t> cut(packet.begin(), packet.begin() + 58);  // the name's last byte cut off
    EXPECT_EQ(ReadSenderName(Span(cut)), std::nullopt);
    std::vector<uint8_t> lying = packet;
    lying[52] = 200;  // a length past the datagram's end
    EXPECT_EQ(ReadSenderName(Span(lying)), std::nullopt);
    std::vector<uint8_t> empty = packet;
    empty[52] = 0;
    EXPECT_EQ(ReadSenderName(Span(empty)), std::nullopt);
    std::vector<uint8_t> control = packet;
    control[54] = '\n';
    EXPECT_EQ(ReadSenderName(Span(control)), std::nullopt);
}

// A block this reader does not know (another kind of stamp) is stepped over by its length.
TEST(FillerBlocks, BlocksFollowOneAnotherAndUnknownOnesAreSkipped) {
    std::vector<uint8_t> packet(96, 0);
    const std::vector<uint8_t> stamp(9, 0xAB);
    const std::optional<uint32_t> next =
        WriteFillerBlock(packet.data(), 96, kFillerBlocksOffset, {'S', 'T', 'M', 'P'}, Span(stamp));
    ASSERT_EQ(next, 62u);
    const std::vector<uint8_t> name = {'n', 'o', 'r', 't', 'h'};
    ASSERT_EQ(WriteFillerBlock(packet.data(), 96, *next, {'N', 'A', 'M', 'E'}, Span(name)), 72u);
    EXPECT_EQ(ReadSenderName(Span(packet)), "north");
    const auto found = FindFillerBlock(Span(packet), {'S', 'T', 'M', 'P'});
    ASSERT_TRUE(found);
    EXPECT_EQ(std::vector<uint8_t>(found->begin(), found->end()), stamp);
    EXPECT_EQ(FindFillerBlock(Span(packet), {'N', 'O', 'N', 'E'}), std::nullopt);

    // Four zero bytes end the blocks: a name after them is not read.
    std::vector<uint8_t> ended(96, 0);
    ASSERT_TRUE(WriteFillerBlock(ended.data(), 96, 60, {'N', 'A', 'M', 'E'}, Span(name)));
    EXPECT_EQ(ReadSenderName(Span(ended)), std::nullopt);

    // No block of more than 255 bytes, none past the end, no offset that wraps.
    std::vector<uint8_t> big(400, 0);
    EXPECT_EQ(WriteFillerBlock(big.data(), 400, 48, {'B', 'I', 'G', '!'}, Span(std::vector<uint8_t>(256, 1))),
              std::nullopt);
    EXPECT_EQ(WriteFillerBlock(big.data(), 400, UINT32_MAX - 2, {'B', 'I', 'G', '!'}, Span(name)), std::nullopt);
    EXPECT_EQ(big, std::vector<uint8_t>(400, 0));
}

}  // namespace
