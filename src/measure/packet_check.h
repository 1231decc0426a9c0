#pragma once
// Tells a sender's test packets from every other datagram that reaches the port from its
// address, so that one stray or hostile datagram cannot enter the figures of a run: a run
// begins, restarts or jumps far ahead only when several test packets agree on it, and a
// packet of the current run must fit its group numbers, its clock and the time that passed.

#include <array>
#include <bitset>
#include <cstdint>
#include <optional>
#include <span>

#include "base/udp_socket.h"
#include "measure/end_of_run.h"
#include "measure/test_packet.h"

// A group number may lie this many groups below the run's latest: a late or repeated packet.
inline constexpr int64_t kGroupsBehindAccepted = 64;
// This many test packets in a row that agree with each other, and not with the current run,
// begin a run (the first one, a restart, or a jump further ahead than the time allows).
inline constexpr int kPacketsConfirmingRun = 3;

enum class DatagramKind {
    NotTestPacket,  // enters no figure but the byte total
    Held,           // waits with a candidate run: no figure until the run is confirmed
    NewRun,         // confirms a run: its packets (ConfirmedPackets) are taken in order
    FirstOfGroup,   // a test packet with index 0 taken for the first time: the one that is analysed
    RestOfGroup,    // a test packet with another index
    CopyOfFirst,    // a first packet taken before: never analysed twice
};

// A datagram as the check saw it: what it is, and for a test packet its header and the group
// size its padding tells, decoded once for every consumer.
struct ClassifiedDatagram {
    DatagramKind kind = DatagramKind::NotTestPacket;
    TestPacketHeader header;            // read whenever the datagram holds a whole header
    std::optional<uint16_t> groupSize;  // of a test packet only
    // The first packet of a group of the run: the one that is analysed (a NewRun's are its
    // ConfirmedPackets').
    bool Analysed() const { return kind == DatagramKind::FirstOfGroup; }
};

// A test packet as a candidate run holds it until the run is confirmed.
struct HeldPacket {
    TestPacketHeader header;
    std::optional<uint16_t> statedGroupSize;
    int64_t arrival = 0;  // the receiver's counter
    int64_t length = 0;   // of the datagram
    int trafficClass = -1;
};

// The state of one sender's current run, checked against and updated by each datagram.
class PacketCheck {
  public:
    // Classifies a datagram (its arrival a reading of the receiver's clock, which counts
    // `arrivalFrequency` per second) and takes a test packet into the run's state.
    ClassifiedDatagram Classify(const ReceivedDatagram& datagram, int64_t arrivalFrequency);

    // After NewRun: the confirming packets in order of arrival, the classified one last; each
    // is taken as if it had been accepted on its arrival.
    std::span<const HeldPacket> ConfirmedPackets() const { return {held_.data(), static_cast<size_t>(confirmed_)}; }
    // Held packets whose candidate was dropped since the last call: they were no test packets.
    int64_t TakeDroppedPackets();
    // Packets waiting with a candidate run.
    int HeldPackets() const { return heldCount_; }
    // Drops the candidate run (its sender has gone): its packets were no test packets.
    void DropCandidate();
    // The sender's seconds per group over the run so far; none before a second group.
    std::optional<double> PeriodSeconds() const;

    // Whether a sender's end of run (its last group and the counter it was sent with) can end
    // this run: it lies on the run's line, not before its latest group.
    bool FitsEnd(const EndOfRun& end, int64_t arrival, int64_t arrivalFrequency) const;

    bool RunStarted() const { return runStarted_; }
    int64_t Frequency() const { return frequency_; }
    int64_t LatestGroup() const { return latestGroup_; }

  private:
    bool FitsRun(const TestPacketHeader& header, int64_t arrival, int64_t arrivalFrequency) const;
    bool OnCountersLine(const TestPacketHeader& header) const;
    void NotePeriod();
    DatagramKind Accept(const TestPacketHeader& header, int64_t arrival);
    DatagramKind Hold(const HeldPacket& packet);
    void StartRun();

    bool runStarted_ = false;
    int64_t frequency_ = 0;
    int64_t firstGroup_ = 0;  // the run's earliest group and the counter it was sent with
    int64_t firstCounter_ = 0;
    int64_t latestGroup_ = 0;  // the run's latest group, its counter and its arrival
    int64_t latestCounter_ = 0;
    int64_t latestArrival_ = 0;
    double periodTicks_ = 0;  // the sender's counter ticks per group; 0: none yet
    // Which of the latest groups' first packets were taken, by group number modulo the size.
    std::bitset<2 * (kGroupsBehindAccepted + 1)> firstTaken_;
    std::array<HeldPacket, kPacketsConfirmingRun> held_{};
    int heldCount_ = 0;
    int confirmed_ = 0;
    int64_t droppedPackets_ = 0;
};
