#pragma once
// Counts received, lost, duplicated and reordered packets over every packet of every group
// of one run, with memory bounded by a window of the latest groups: one bit per index, at most
// 65 groups of 8 KiB however long the run.

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

// Groups this far behind the latest may still receive packets: the window holds one more.
inline constexpr int64_t kLossWindowGroups = 65;
// Indexes from here on are not tracked: the largest group size the padding can carry.
inline constexpr int32_t kLargestTrackedGroupSize = 65536;
// A group size, stated or inferred, changes only when this many groups agree on it: one
// datagram, whoever sent it, cannot.
inline constexpr int kGroupsAgreeingOnSize = 3;

struct LossFigures {
    int64_t received = 0;    // distinct packets
    int64_t lost = 0;        // missing from groups that left the window
    int64_t expected = 0;    // the packets of the groups that left the window
    int64_t duplicates = 0;  // copies of a packet already received
    int64_t reordered = 0;   // arrived after a packet sent later
    int64_t longestLossRun = 0;
    int64_t lossRuns = 0;          // runs of consecutive lost packets in sending order
    int64_t firstPacketsLost = 0;  // groups that left the window without their first packet
    // Too late for the window, an index beyond the group size, or a stated size other than
    // the trusted one.
    int64_t ignored = 0;
    int64_t groupSize = 0;
    bool groupSizeInferred = true;

    // lost / expected in %, none before the first group has left the window.
    std::optional<double> LossPercent() const;
};

// Applies `f(to.count, from.count)` to each count that sums over runs and differs over an
// interval, so that no such operation misses one.
template <typename F>
void ForEachCount(LossFigures& to, const LossFigures& from, F f) {
    f(to.received, from.received);
    f(to.lost, from.lost);
    f(to.expected, from.expected);
    f(to.duplicates, from.duplicates);
    f(to.reordered, from.reordered);
    f(to.firstPacketsLost, from.firstPacketsLost);
    f(to.lossRuns, from.lossRuns);
    f(to.ignored, from.ignored);
}

// The figures of two runs of one sender as one: the counts summed (saturating), the longest
// loss run the longer of the two, the group size the later run's.
LossFigures CombineRuns(const LossFigures& earlier, const LossFigures& later);

// What one packet was to the count.
enum class PacketCount {
    New,        // received for the first time
    Duplicate,  // a copy of one received before
    Ignored,    // left out (see LossFigures::ignored)
    Pending,    // beyond the group size so far: received if enough groups agree that it grew
};

class LossAccountant {
  public:
    // Takes one accepted test packet of the run; `statedGroupSize` is ReadGroupSize's answer.
    PacketCount Add(int64_t groupNumber, int32_t indexInGroup, std::optional<uint16_t> statedGroupSize);
    // The run's groups before its first packet's were sent and lost on the way (its sender
    // numbers them from 0): they count as lost as they leave the window. Only while none has
    // left it yet, and the first of them is within the window's reach.
    void CountFromGroupZero();
    // Ends the run: every packet still missing from the window counts as lost.
    void Finish();
    // Ends the run as its sender told: through `lastGroup`, of which only the first
    // `packetsInLastGroup` packets were sent; nothing after it counts as lost.
    void FinishAt(int64_t lastGroup, int64_t packetsInLastGroup);
    const LossFigures& Figures() const { return figures_; }
    // The latest group received, and the highest group counted (every one below it is too).
    int64_t LatestGroup() const { return latestGroup_; }
    int64_t ClosedThrough() const { return closedThrough_; }
    // The longest loss run that grew since the last call (a report interval's), and starts
    // the next interval.
    int64_t TakeIntervalLongestLossRun();

  private:
    static constexpr size_t kWordsPerGroup = kLargestTrackedGroupSize / 64;
    struct Group {
        int64_t number = -1;         // -1: the slot is free
        std::vector<uint64_t> bits;  // one bit per index received; kept between groups
        // One bit per word of `bits` that may hold a set bit, and one per word of those that
        // has one: the words without a set bit are skipped whole, so that a group with a few
        // indexes spread far apart closes as quickly as a small one.
        std::array<uint64_t, kWordsPerGroup / 64> usedWords{};
        uint32_t usedSummaries = 0;
    };
    static_assert(kWordsPerGroup / 64 <= 32, "one bit of usedSummaries per word of usedWords");
    // Groups that agree on a size, one after another.
    struct SizeCandidate {
        int64_t size = 0;
        int groups = 0;
        int64_t lastGroup = -1;
        int64_t lastGroupSize = 0;  // the largest size the last group showed (inferred sizes)
    };

    bool TrustsStatedSize(int64_t groupNumber, std::optional<uint16_t> statedGroupSize);
    void ProposeInferredSize(int64_t groupNumber, int32_t indexInGroup);
    void SetGroupSize(int64_t size);
    Group& SlotOf(int64_t groupNumber);
    void CloseGroupsThrough(int64_t groupNumber);
    void CloseGroup(Group& group, int64_t size);
    void CountRange(const Group& group, int64_t from, int64_t to, bool countMissing);
    void CountMissingInWord(uint64_t bits, int64_t from, int64_t to);
    static int64_t NextUsedWord(const Group& group, int64_t word);
    static void Clear(Group& group);
    void CountMissing(int64_t packets);
    static bool TestAndSet(Group& group, int32_t index);

    LossFigures figures_;
    std::array<Group, kLossWindowGroups> window_;
    bool started_ = false;
    int64_t closedThrough_ = -1;  // the highest group number closed (all below it are too)
    int64_t firstGroup_ = 0;      // of the run's first packet
    int64_t latestGroup_ = 0;
    int32_t latestIndex_ = 0;  // of the packet sent last so far (the latest group's)
    std::optional<uint16_t> trustedSize_;
    SizeCandidate statedCandidate_;
    SizeCandidate inferredCandidate_;
    int64_t currentLossRun_ = 0;
    int64_t intervalLongestLossRun_ = 0;
};
