#pragma once
// Tells a sender's test packets from every other datagram that reaches the port from its
// address, so that one stray or hostile datagram cannot enter the figures of a run.

#include <cstdint>
#include <optional>

#include "measure/test_packet.h"

// A group number may lie this many groups below the run's latest: a late or repeated packet.
inline constexpr int64_t kGroupsBehindAccepted = 64;
// A group number may lie this many groups above the run's latest without confirmation.
inline constexpr int64_t kGroupsAheadAccepted = 1'048'576;
// A first packet with a changed frequency starts a new run only below this group number.
inline constexpr int64_t kNewRunGroupsBelow = 64;
// This many consecutive first packets that agree on a larger jump confirm it (a long outage).
inline constexpr int kFirstPacketsConfirmingJump = 3;

enum class DatagramKind {
    NotTestPacket,  // enters no figure but the byte total
    NewRun,         // the first packet of a new run (the first run, or the sender started again)
    FirstOfGroup,   // a test packet with index 0: the one that is analysed
    RestOfGroup,    // a test packet with another index
};

// A datagram as the check saw it: what it is, and for a test packet its header and the group
// size its padding tells, decoded once for every consumer.
struct ClassifiedDatagram {
    DatagramKind kind = DatagramKind::NotTestPacket;
    TestPacketHeader header;            // read whenever the datagram holds a whole header
    std::optional<uint16_t> groupSize;  // of a test packet only
    // The first packet of a group, of a run or not: the one that is analysed.
    bool Analysed() const { return kind == DatagramKind::NewRun || kind == DatagramKind::FirstOfGroup; }
};

// The state of one sender's current run, checked against and updated by each datagram.
class PacketCheck {
  public:
    // Classifies a datagram of `length` bytes and takes a test packet into the run's state.
    // A NewRun replaces the run's frequency and latest group number.
    ClassifiedDatagram Classify(const uint8_t* datagram, int64_t length);

    bool RunStarted() const { return runStarted_; }
    int64_t Frequency() const { return frequency_; }
    int64_t LatestGroup() const { return latestGroup_; }

  private:
    DatagramKind KindOf(const TestPacketHeader& header);
    DatagramKind StartRun(int64_t frequency, int64_t groupNumber);
    bool IsRestart(int64_t frequency, int64_t groupNumber) const;
    bool ConfirmsJump(int64_t groupNumber);

    bool runStarted_ = false;
    int64_t frequency_ = 0;
    int64_t latestGroup_ = 0;
    // First packets beyond the accepted window that agree on a jump so far, and the latest.
    int jumpAgreeing_ = 0;
    int64_t jumpLatestGroup_ = 0;
};
