// The reflector as a server runs it, in process on loop-back: with a key it answers only
// packets that carry the key's tag, each with one datagram of the same length, tagged again
// over its stamps; it never answers an answer.

#include "cli/reflector.h"

#include <gtest/gtest.h>

#include <vector>

#include "base/socket_library.h"
#include "base/socket_wait.h"
#include "cli/packet_tag.h"
#include "cli_test_support.h"
#include "measure/packet_blocks.h"
#include "measure/test_packet.h"
#include "measure_test_support.h"

namespace {

constexpr uint32_t kSize = 172;

// The answer to `packet` on `client`; empty when none came within `waitMs`.
std::vector<uint8_t> AnswerTo(UdpSocket& client, const std::vector<uint8_t>& packet, uint16_t port, int waitMs) {
    client.SendTo(packet.data(), static_cast<uint32_t>(packet.size()), Endpoint::Ipv4(0x7F000001, port));
    std::vector<uint8_t> answer(65536);
    Endpoint source;
    if (!WaitReadable(client.Get(), waitMs)) {
        return {};
    }
    answer.resize(static_cast<size_t>(std::max<int64_t>(0, client.ReceiveFrom(answer.data(), 65536, source))));
    return answer;
}

}  // namespace

TEST(Reflector, AKeyedReflectorAnswersOnlyTaggedTestPacketsWithTaggedAnswersOfTheSameLength) {
    SocketLibrary library;
    const std::string keyBytes = KeyBytes(1);
    PacketKey key{};
    std::copy(keyBytes.begin(), keyBytes.end(), key.begin());
    const std::shared_ptr<PacketTag> reflectorTag = PacketTag::Make(key);
    const std::shared_ptr<PacketTag> senderTag = PacketTag::Make(key);
    ReflectorSettings settings;
    settings.local = Endpoint::Ipv4(0x7F000001, 0);
    settings.check = reflectorTag;
    settings.retag = reflectorTag;
    std::string error;
    const std::unique_ptr<Reflector> reflector = Reflector::Start(settings, error);
    ASSERT_TRUE(reflector) << error;
    UdpSocket client = UdpSocket::Open(Endpoint());
    ASSERT_TRUE(client.Bind(Endpoint::Ipv4(0x7F000001, 0)));

    std::vector<uint8_t> packet(kSize);
    WritePacketHeader(packet.data(), TestPacketHeader{0, 0, QueryCounter(), QueryCounterFrequency()});
    const std::vector<uint8_t> unsigned_ = packet;
    senderTag->Finish(packet.data(), kSize);

    EXPECT_TRUE(AnswerTo(client, unsigned_, reflector->LocalPort(), 200).empty());
    const std::vector<uint8_t> answer = AnswerTo(client, packet, reflector->LocalPort(), 5000);
    ASSERT_EQ(answer.size(), kSize);
    EXPECT_TRUE(senderTag->Authentic(answer.data(), kSize));
    const std::optional<ReflectorStamps> stamps = ReadStampsBlock(answer.data(), kSize);
    ASSERT_TRUE(stamps);
    EXPECT_EQ(stamps->packetsFromSource, 1);
    EXPECT_GE(stamps->sentNs, stamps->receivedNs);
    // The answer sent back again is never answered: two reflectors cannot keep it going.
    EXPECT_TRUE(AnswerTo(client, answer, reflector->LocalPort(), 200).empty());

    EXPECT_TRUE(WaitUntil([&] { return reflector->Counts().datagrams == 3; }));
    const ReflectorCounts counts = reflector->Counts();
    EXPECT_EQ(counts.answered, 1);
    EXPECT_EQ(counts.unauthenticated, 1);
    EXPECT_EQ(counts.alreadyStamped, 1);
}
