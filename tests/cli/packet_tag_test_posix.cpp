// Keyed test packets: the tag is HMAC-SHA-256 over the bytes around it, every change is
// refused, and forged packets from the sender's own address reach no session.

#include "cli/packet_tag.h"

#include <gtest/gtest.h>
#include <openssl/hmac.h>

#include <chrono>
#include <random>
#include <sstream>
#include <vector>

#include "base/clock.h"
#include "cli/report.h"
#include "cli_test_support.h"
#include "measure/test_packet.h"
#include "sessions/session_table.h"

namespace {

PacketKey Key(uint8_t offset) {
    const std::string bytes = KeyBytes(static_cast<char>(offset));
    PacketKey key{};
    std::copy(bytes.begin(), bytes.end(), key.begin());
    return key;
}

std::vector<uint8_t> RandomBytes(size_t size, std::mt19937_64& random) {
    std::vector<uint8_t> bytes(size);
    for (uint8_t& byte : bytes) {
        byte = static_cast<uint8_t>(random());
    }
    return bytes;
}

// The tag as the layout defines it, computed in one call of the library.
std::vector<uint8_t> ExpectedTag(const PacketKey& key, const std::vector<uint8_t>& packet) {
    std::vector<uint8_t> covered(packet.begin(), packet.begin() + 32);
    covered.insert(covered.end(), packet.begin() + 48, packet.end());
    uint8_t mac[32];
    unsigned int length = 0;
    HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()), covered.data(), covered.size(), mac, &length);
    return std::vector<uint8_t>(mac, mac + 16);
}

TEST(PacketTag, EachPacketCarriesTheHmacOfTheBytesAroundTheTag) {
    const PacketKey key = Key(7);
    const std::shared_ptr<PacketTag> tag = PacketTag::Make(key);
    ASSERT_TRUE(tag);
    std::mt19937_64 random(1);
    // One object for all: each packet starts afresh from the key, whatever came before.
    for (const size_t size : {48u, 49u, 192u, 1500u, 192u}) {
        SCOPED_TRACE(size);
        std::vector<uint8_t> packet = RandomBytes(size, random);
        const std::vector<uint8_t> before = packet;
        tag->Finish(packet.data(), static_cast<uint32_t>(packet.size()));
        EXPECT_EQ(std::vector<uint8_t>(packet.begin() + 32, packet.begin() + 48), ExpectedTag(key, before));
        std::copy(before.begin() + 32, before.begin() + 48, packet.begin() + 32);
        EXPECT_EQ(packet, before);  // nothing but the tag changed
    }
    // Too short to carry a tag: left as it is.
    std::vector<uint8_t> header = RandomBytes(47, random);
    const std::vector<uint8_t> unchanged = header;
    tag->Finish(header.data(), static_cast<uint32_t>(header.size()));
    EXPECT_EQ(header, unchanged);
}

TEST(PacketTag, AnyChangedByteAnotherKeyOrAnotherLengthIsRefused) {
    const std::shared_ptr<PacketTag> signer = PacketTag::Make(Key(1));
    const std::shared_ptr<PacketTag> checker = PacketTag::Make(Key(1));
    const std::shared_ptr<PacketTag> stranger = PacketTag::Make(Key(2));
    std::mt19937_64 random(2);
    std::vector<uint8_t> packet = RandomBytes(192, random);
    signer->Finish(packet.data(), 192);
    ASSERT_TRUE(checker->Authentic(packet.data(), 192));
    EXPECT_FALSE(stranger->Authentic(packet.data(), 192));
    for (size_t i = 0; i < packet.size(); ++i) {
        std::vector<uint8_t> changed = packet;
        changed[i] ^= 0x01;
        EXPECT_FALSE(checker->Authentic(changed.data(), 192)) << "byte " << i;
    }
    EXPECT_FALSE(checker->Authentic(packet.data(), 191));
    packet.push_back(0);
    EXPECT_FALSE(checker->Authentic(packet.data(), 193));
    // A packet that is exactly header and tag covers the header alone.
    std::vector<uint8_t> smallest = RandomBytes(48, random);
    signer->Finish(smallest.data(), 48);
    EXPECT_TRUE(checker->Authentic(smallest.data(), 48));
    EXPECT_FALSE(checker->Authentic(smallest.data(), 47));
    EXPECT_FALSE(checker->Authentic(smallest.data(), 0));
    // An end of run carries its tag right after its 24 bytes, over those alone.
    std::vector<uint8_t> end(kEndOfRunSize + signer->TrailerSize());
    WriteEndOfRun(end.data(), EndOfRun{41, 3, 123456});
    signer->Finish(end.data(), static_cast<uint32_t>(end.size()));
    EXPECT_TRUE(checker->Authentic(end.data(), static_cast<int64_t>(end.size())));
    EXPECT_FALSE(stranger->Authentic(end.data(), static_cast<int64_t>(end.size())));
    end[kEndOfRunSize - 1] ^= 0x01;
    EXPECT_FALSE(checker->Authentic(end.data(), static_cast<int64_t>(end.size())));
}

constexpr int64_t kSenderFrequency = 10'000'000;
constexpr int kGroups = 250;
constexpr int kGroupSize = 4;
constexpr int64_t kForged = 1'000'000;

// A keyed sender's run of groups every 10 ms, with `forgedPerPacket` forged datagrams from
// its own address after each real one: the real header with no tag, a random tag or the tag
// of another packet, and headers that would restart or jump the run. The session's JSON line.
std::string KeyedRun(int64_t forgedPerPacket, SessionsReport& report) {
    ManualClock clock;
    SessionTable table(clock, SessionTableSettings{10.0, 16}, PacketTag::Make(Key(3)));
    const std::shared_ptr<PacketTag> signer = PacketTag::Make(Key(3));
    const Endpoint sender = Endpoint::Ipv4(0x7F000001, 5001);
    std::mt19937_64 random(3);
    std::vector<uint8_t> previous(192);
    for (int64_t group = 0; group < kGroups; ++group) {
        for (int32_t index = 0; index < kGroupSize; ++index) {
            const int64_t sentNs = group * 10'000'000 + index * 50'000;
            std::vector<uint8_t> packet(192);
            WriteGroupSize(packet.data(), kGroupSize);
            WritePacketHeader(packet.data(), TestPacketHeader{index, group, sentNs / 100, kSenderFrequency});
            signer->Finish(packet.data(), 192);
            // A delay that varies, so that jitter and delay have figures to keep.
            clock.now = sentNs + 1'000'000 + (group % 7) * 100'000;
            table.TakeDatagram(Received(packet, clock.now, sender));
            for (int64_t f = 0; f < forgedPerPacket; ++f) {
                std::vector<uint8_t> forged = packet;
                switch (f % 5) {
                    case 0:  // the real header, no tag at all
                        std::fill(forged.begin() + 32, forged.begin() + 48, 0);
                        break;
                    case 1:  // a random tag
                        for (size_t i = 32; i < 48; ++i) {
                            forged[i] = static_cast<uint8_t>(random());
                        }
                        break;
                    case 2:  // a real tag of another packet
                        std::copy(previous.begin() + 32, previous.begin() + 48, forged.begin() + 32);
                        break;
                    case 3:  // a restart with the tag of this packet
                        WritePacketHeader(forged.data(), TestPacketHeader{0, 0, 1, 1});
                        break;
                    default:  // far ahead, cut short to the header and tag
                        WritePacketHeader(forged.data(),
                                          TestPacketHeader{0, group + 1'000'000, sentNs, kSenderFrequency});
                        forged.resize(48);
                }
                table.TakeDatagram(Received(forged, clock.now, sender));
            }
            previous = packet;
        }
    }
    if (forgedPerPacket > 0) {  // too long to check: dropped whole by the receiver
        ReceivedDatagram oversized = Received({}, clock.now, sender);
        oversized.length = -1;
        oversized.truncated = true;
        oversized.fullLength = 2048;
        table.TakeDatagram(oversized);
    }
    report = table.TakeReport(true);
    Report whole;
    whole.receiver = ReceiverStatistics{};
    whole.sessions = report;
    std::istringstream lines(ReportJsonLines(whole));
    std::string line;
    std::getline(lines, line);
    return line;
}

TEST(PacketTag, AMillionForgedPacketsChangeNoFigureAndAreCounted) {
    SessionsReport clean;
    SessionsReport attacked;
    const std::string cleanLine = KeyedRun(0, clean);
    const std::string attackedLine = KeyedRun(kForged / (kGroups * kGroupSize), attacked);
    ASSERT_EQ(clean.sessions.size(), 1u);
    EXPECT_EQ(clean.sessions[0].packets.received, kGroups * kGroupSize);
    EXPECT_EQ(clean.sessions[0].packets.lost, 0);
    EXPECT_EQ(clean.unauthenticatedPackets, 0);
    // Every figure of the session, as the report writes it.
    EXPECT_EQ(attackedLine, cleanLine);
    EXPECT_EQ(attacked.unauthenticatedPackets, kForged + 1);
    EXPECT_EQ(attacked.notTestPackets, clean.notTestPackets);
    EXPECT_EQ(attacked.sessionsStarted, 1);
}

}  // namespace
