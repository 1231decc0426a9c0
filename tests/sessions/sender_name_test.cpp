// A sender's name as its session shows it: taken only once packets of several groups agree,
// so that no single datagram from the sender's address, copied or forged, changes it.

#include "sessions/sender_name.h"

#include <gtest/gtest.h>

#include <span>
#include <string>
#include <vector>

#include "base/clock.h"
#include "measure/sender_name_block.h"
#include "measure/test_packet.h"
#include "measure_test_support.h"
#include "sessions/session_table.h"

namespace {

TEST(SenderName, ANameIsShownOnceThreeGroupsAgreeAndNoLoneDatagramChangesIt) {
    SenderName name;
    name.Take("north", 0);
    name.Take("north", 0);  // another packet of the group, or a copy: counts once
    name.Take("north", 0);
    name.Take("north", 1);
    EXPECT_EQ(name.Agreed(), std::nullopt);
    name.Take("north", 2);
    EXPECT_EQ(name.Agreed(), "north");

    // Forged datagrams between the sender's own, one per group: none of them gets anywhere.
    for (int64_t group = 3; group < 20; ++group) {
        name.Take(group % 2 == 0 ? std::optional<std::string_view>("evil") : std::nullopt, group);
        name.Take("north", group);
    }
    EXPECT_EQ(name.Agreed(), "north");
    // A replayed datagram, many times over, is still one group.
    for (int copy = 0; copy < 10; ++copy) {
        name.Take("evil", 20);
    }
    EXPECT_EQ(name.Agreed(), "north");
}

TEST(SenderName, ARestartedSenderIsRenamedOrUnnamedByItsNewRun) {
    SenderName name;
    for (int64_t group = 0; group < 3; ++group) {
        name.Take("north", group);
    }
    ASSERT_EQ(name.Agreed(), "north");
    // The new run numbers its groups from 0 again: the old run's latest group holds nothing back.
    name.Take("south", 50);
    name.NewRun();
    for (int64_t group = 0; group < 3; ++group) {
        name.Take("south", group);
    }
    EXPECT_EQ(name.Agreed(), "south");
    name.NewRun();
    for (int64_t group = 0; group < 3; ++group) {
        name.Take(std::nullopt, group);
    }
    EXPECT_EQ(name.Agreed(), std::nullopt);
}

constexpr int64_t kSenderFrequency = 10'000'000;
constexpr uint32_t kPacketSize = 80;

std::vector<uint8_t> NamedPacket(int64_t group,
                                 int32_t index,
                                 const char* name,
                                 int64_t frequency = kSenderFrequency,
                                 int64_t counterAtZero = 0) {
    std::vector<uint8_t> packet =
        MakePacket(index, group, counterAtZero + group * kSenderFrequency / 100, frequency, kPacketSize);
    WriteGroupSize(packet.data(), 2);
    if (name != nullptr) {
        EXPECT_TRUE(WriteSenderName(packet.data(), kPacketSize, name));
    }
    return packet;
}

// A session skips reading a name whose bytes repeat the agreed one's; every other packet is
// read, and a repeat counts as the agreed name does against a dissenting one.
TEST(SenderName, OnlyThePacketsThatRepeatTheAgreedNamesBytesSkipTheReading) {
    const std::vector<uint8_t> north = NamedPacket(0, 0, "north");
    const std::vector<uint8_t> northern = NamedPacket(0, 0, "northern");
    const std::vector<uint8_t> unnamed = NamedPacket(0, 0, nullptr);
    SenderName name;
    const auto take = [&name](const std::vector<uint8_t>& packet, int64_t group) {
        const std::span<const uint8_t> deciding = SenderNameDecidingBytes(packet);
        if (!name.Repeats(deciding)) {
            name.Take(ReadSenderName(packet), group, deciding);
        }
    };
    for (int64_t group = 0; group < 3; ++group) {
        take(north, group);
    }
    ASSERT_EQ(name.Agreed(), "north");
    take(north, 3);  // read once more: its bytes are kept
    EXPECT_TRUE(name.Repeats(SenderNameDecidingBytes(north)));
    EXPECT_FALSE(name.Repeats(SenderNameDecidingBytes(northern)));
    EXPECT_FALSE(name.Repeats(SenderNameDecidingBytes(unnamed)));
    for (int64_t group = 4; group < 20; ++group) {
        take(northern, group);
        take(north, group);
    }
    EXPECT_EQ(name.Agreed(), "north");
    for (int64_t group = 20; group < 23; ++group) {
        take(unnamed, group);
    }
    EXPECT_EQ(name.Agreed(), std::nullopt);
    EXPECT_FALSE(name.Repeats(SenderNameDecidingBytes(north)));
}

// Only the run's accepted test packets name a session: datagrams from its address that fail
// the checks carry no weight, however many groups they claim.
TEST(SenderName, ASessionTakesItsNameFromItsTestPacketsOnly) {
    ManualClock clock;
    SessionTable table(clock);
    const Endpoint source = Endpoint::Ipv4(0x7F000001, 5001);
    auto send = [&](const std::vector<uint8_t>& packet, int64_t group) {
        clock.SetMs(static_cast<double>(group) * 10.0 + 2.0);
        table.TakeDatagram(Received(packet, clock.now, source));
    };
    for (int64_t group = 0; group < 5; ++group) {
        for (int32_t index = 0; index < 2; ++index) {
            send(NamedPacket(group, index, "north"), group);
        }
    }
    SessionsReport report = table.TakeReport(false);
    ASSERT_EQ(report.sessions.size(), 1u);
    EXPECT_EQ(report.sessions[0].senderName, "north");
    for (int64_t group = 5; group < 10; ++group) {
        send(NamedPacket(group, 0, "evil", 0), group);  // a frequency of 0: no test packet
    }
    report = table.TakeReport(true);
    ASSERT_EQ(report.sessions.size(), 1u);
    EXPECT_EQ(report.sessions[0].senderName, "north");
    EXPECT_EQ(report.sessions[0].source, source);
    EXPECT_EQ(report.sessions[0].notTestPackets, 5);
}

class AcceptEvery : public DatagramAuthenticator {
  public:
    bool Authentic(const uint8_t*, int64_t) override { return true; }
};

// With a key a sender that comes back named from another port goes on in its session, as a new
// run; a second live sender of the same name, and any sender without a key, gets a session of
// its own.
TEST(SenderName, WithAKeyANameFollowsItsSenderToANewAddressWhenItsSessionIsQuiet) {
    for (const bool keyed : {true, false}) {
        SCOPED_TRACE(keyed ? "keyed" : "unkeyed");
        ManualClock clock;
        SessionTable table(clock, {}, keyed ? std::make_shared<AcceptEvery>() : nullptr);
        // Groups from `port` of a run that began at `startMs`, its sender's counter started anew.
        auto run = [&](uint16_t port, double startMs, int64_t firstGroup = 0, int64_t groups = 10) {
            for (int64_t group = firstGroup; group < firstGroup + groups; ++group) {
                clock.SetMs(startMs + static_cast<double>(group) * 10.0 + 2.0);
                for (int32_t index = 0; index < 2; ++index) {
                    const std::vector<uint8_t> packet =
                        NamedPacket(group, index, "north", kSenderFrequency, static_cast<int64_t>(startMs) * 7919);
                    table.TakeDatagram(Received(packet, clock.now, Endpoint::Ipv4(0x7F000001, port)));
                }
            }
        };
        run(5001, 0);
        ASSERT_EQ(table.TakeReport(false).sessions.at(0).senderName, "north");
        run(5002, 300);  // restarted from another port
        for (int64_t group = 0; group < 10; ++group) {
            run(5002, 300, 10 + group, 1);
            run(5003, 400, group, 1);  // another "north" while the first one is live: no move
        }
        const SessionsReport report = table.TakeReport(true);
        ASSERT_EQ(report.sessions.size(), keyed ? 2u : 3u);
        const SessionFigures& first = report.sessions[0];
        EXPECT_EQ(first.session, 1);
        EXPECT_EQ(first.source.Port(), keyed ? 5002 : 5001);
        EXPECT_EQ(first.run, keyed ? 2 : 1);
        EXPECT_EQ(first.packets.received, keyed ? 60 : 20);
        EXPECT_EQ(first.packets.lost, 0);
        EXPECT_EQ(report.sessions.back().source.Port(), 5003);
        EXPECT_EQ(report.sessions.back().senderName, "north");
    }
}

}  // namespace
