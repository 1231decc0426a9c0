#include "sessions/loss_accountant.h"

#include <algorithm>
#include <bit>
#include <limits>

namespace {

constexpr int64_t kMaxCount = std::numeric_limits<int64_t>::max();
constexpr int64_t kBitsPerWord = 64;
// Groups agree on a size when each lies at most this far after the one before (one whole
// group may be lost between them): a sender shows its size in every group, a stray packet not.
constexpr int64_t kAgreeingGroupsApart = 2;

// Counts saturate: a confirmed jump of many groups must not overflow them.
void AddSaturating(int64_t& count, int64_t amount) {
    count = amount > kMaxCount - count ? kMaxCount : count + amount;
}

int64_t MultiplySaturating(int64_t a, int64_t b) {
    return b != 0 && a > kMaxCount / b ? kMaxCount : a * b;
}

// The bits [from, to) of one word, `from` and `to` counted from the word's first bit.
uint64_t WordMask(int64_t from, int64_t to) {
    const uint64_t below = to >= kBitsPerWord ? ~uint64_t{0} : (uint64_t{1} << to) - 1;
    return below & (~uint64_t{0} << from);
}

}  // namespace

std::optional<double> LossFigures::LossPercent() const {
    if (expected <= 0) {
        return std::nullopt;
    }
    return 100.0 * static_cast<double>(lost) / static_cast<double>(expected);
}

LossFigures CombineRuns(const LossFigures& earlier, const LossFigures& later) {
    LossFigures sum = later;
    ForEachCount(sum, earlier, [](int64_t& count, int64_t earlierCount) { AddSaturating(count, earlierCount); });
    sum.longestLossRun = std::max(earlier.longestLossRun, later.longestLossRun);
    return sum;
}

PacketCount LossAccountant::Add(int64_t groupNumber, int32_t indexInGroup, std::optional<uint16_t> statedGroupSize) {
    if (indexInGroup < 0 || indexInGroup >= kLargestTrackedGroupSize || groupNumber < 0 ||
        (started_ && groupNumber <= closedThrough_)) {
        ++figures_.ignored;
        return PacketCount::Ignored;
    }
    if (!started_) {
        started_ = true;
        closedThrough_ = groupNumber - 1;
        firstGroup_ = groupNumber;
        latestGroup_ = groupNumber;
        latestIndex_ = indexInGroup;
        figures_.groupSize = 1;
    }
    if (!TrustsStatedSize(groupNumber, statedGroupSize) || (trustedSize_ && indexInGroup >= *trustedSize_)) {
        ++figures_.ignored;
        return PacketCount::Ignored;
    }
    const bool sentEarlier = groupNumber < latestGroup_ || (groupNumber == latestGroup_ && indexInGroup < latestIndex_);
    if (groupNumber > latestGroup_) {
        CloseGroupsThrough(groupNumber - kLossWindowGroups);
        latestGroup_ = groupNumber;
        latestIndex_ = indexInGroup;
    } else if (groupNumber == latestGroup_ && indexInGroup > latestIndex_) {
        latestIndex_ = indexInGroup;
    }
    Group& group = SlotOf(groupNumber);
    if (TestAndSet(group, indexInGroup)) {
        ++figures_.duplicates;
        return PacketCount::Duplicate;
    }
    if (indexInGroup >= figures_.groupSize) {
        // Counted once enough groups agree that the size grew, or left out when its group closes.
        ProposeInferredSize(groupNumber, indexInGroup);
        return PacketCount::Pending;
    }
    ++figures_.received;
    if (sentEarlier) {
        ++figures_.reordered;
    }
    return PacketCount::New;
}

void LossAccountant::CountFromGroupZero() {
    if (started_ && closedThrough_ == firstGroup_ - 1 && latestGroup_ < kLossWindowGroups) {
        closedThrough_ = -1;
    }
}

void LossAccountant::Finish() {
    if (started_) {
        CloseGroupsThrough(latestGroup_);
    }
}

void LossAccountant::FinishAt(int64_t lastGroup, int64_t packetsInLastGroup) {
    if (!started_ || lastGroup <= closedThrough_) {
        Finish();
        return;
    }
    CloseGroupsThrough(lastGroup - 1);
    const int64_t size = std::clamp<int64_t>(packetsInLastGroup, 0, figures_.groupSize);
    Group& group = window_[static_cast<size_t>(lastGroup % kLossWindowGroups)];
    if (group.number == lastGroup) {
        CloseGroup(group, size);
    } else if (size > 0) {
        AddSaturating(figures_.expected, size);
        CountMissing(size);
        AddSaturating(figures_.firstPacketsLost, 1);
    }
    closedThrough_ = lastGroup;
}

// A sender states its group size in every packet of a run: the size is trusted once packets
// of several groups in a row stated it, and another size replaces it the same way, so that
// neither a packet stating another size (or none) nor one forged index can change it. The
// return tells whether the packet may count: with a trusted size, only if it states that size.
bool LossAccountant::TrustsStatedSize(int64_t groupNumber, std::optional<uint16_t> statedGroupSize) {
    if (statedGroupSize && trustedSize_ && *statedGroupSize == *trustedSize_) {
        statedCandidate_ = {};
        return true;
    }
    if (statedGroupSize) {
        SizeCandidate& c = statedCandidate_;
        if (c.groups > 0 && c.size == *statedGroupSize && groupNumber <= c.lastGroup) {
            // another packet of a group that agrees already
        } else if (c.groups > 0 && c.size == *statedGroupSize && groupNumber - c.lastGroup <= kAgreeingGroupsApart) {
            ++c.groups;
            c.lastGroup = groupNumber;
        } else {
            c = SizeCandidate{*statedGroupSize, 1, groupNumber, 0};
        }
        if (c.groups >= kGroupsAgreeingOnSize) {
            trustedSize_ = *statedGroupSize;
            statedCandidate_ = {};
            SetGroupSize(*trustedSize_);
            return true;
        }
    }
    return !trustedSize_;
}

// Without a trusted size the largest index tells the size, but only once several groups in
// a row reach it; each group's largest index counts, the smallest of them is taken.
void LossAccountant::ProposeInferredSize(int64_t groupNumber, int32_t indexInGroup) {
    SizeCandidate& c = inferredCandidate_;
    const int64_t proposed = int64_t{indexInGroup} + 1;
    if (c.groups > 0 && groupNumber == c.lastGroup) {
        c.lastGroupSize = std::max(c.lastGroupSize, proposed);
    } else if (c.groups > 0 && groupNumber > c.lastGroup && groupNumber - c.lastGroup <= kAgreeingGroupsApart) {
        c.size = std::min(c.size, c.lastGroupSize);
        ++c.groups;
        c.lastGroup = groupNumber;
        c.lastGroupSize = proposed;
    } else {
        c = SizeCandidate{kLargestTrackedGroupSize, 1, groupNumber, proposed};
    }
    // The earlier groups agree on c.size; the latest agrees once it reached that size too.
    if (c.groups > kGroupsAgreeingOnSize || (c.groups == kGroupsAgreeingOnSize && c.lastGroupSize >= c.size)) {
        const int64_t size = c.size;
        c = {};
        SetGroupSize(size);
    }
}

// The packets of the open groups that a larger size takes in count as received now.
void LossAccountant::SetGroupSize(int64_t size) {
    const int64_t before = figures_.groupSize;
    figures_.groupSize = size;
    figures_.groupSizeInferred = !trustedSize_;
    for (const Group& group : window_) {
        if (group.number >= 0 && size > before) {
            CountRange(group, before, size, false);
        }
    }
}

LossAccountant::Group& LossAccountant::SlotOf(int64_t groupNumber) {
    // Open groups lie within kLossWindowGroups of each other, so their slots differ.
    Group& group = window_[static_cast<size_t>(groupNumber % kLossWindowGroups)];
    group.number = groupNumber;
    return group;
}

void LossAccountant::CloseGroupsThrough(int64_t groupNumber) {
    // Only the first kLossWindowGroups groups can hold packets; the rest of a jump is empty.
    for (int closed = 0; closedThrough_ < groupNumber && closed < kLossWindowGroups; ++closed) {
        const int64_t next = closedThrough_ + 1;
        Group& group = window_[static_cast<size_t>(next % kLossWindowGroups)];
        if (group.number == next) {
            CloseGroup(group, figures_.groupSize);
        } else {
            AddSaturating(figures_.expected, figures_.groupSize);
            CountMissing(figures_.groupSize);
            AddSaturating(figures_.firstPacketsLost, 1);
        }
        closedThrough_ = next;
    }
    if (closedThrough_ < groupNumber) {
        // Unsigned: from group -1 to the largest number the difference passes int64_t's range.
        const uint64_t distance = static_cast<uint64_t>(groupNumber) - static_cast<uint64_t>(closedThrough_);
        const int64_t groups = distance > static_cast<uint64_t>(kMaxCount) ? kMaxCount : static_cast<int64_t>(distance);
        const int64_t packets = MultiplySaturating(groups, figures_.groupSize);
        AddSaturating(figures_.expected, packets);
        CountMissing(packets);
        AddSaturating(figures_.firstPacketsLost, groups);
        closedThrough_ = groupNumber;
    }
}

// A group is closed with the size known then (`size`: fewer for a group its sender cut
// short); later changes of the size leave it alone, so that the count of lost packets never
// goes down.
void LossAccountant::CloseGroup(Group& group, int64_t size) {
    const int64_t groupSize = figures_.groupSize;
    AddSaturating(figures_.expected, size);
    const uint64_t first = (group.usedWords[0] & 1u) != 0 ? group.bits[0] : 0;
    if (size > 0 && (first & 1u) == 0) {
        AddSaturating(figures_.firstPacketsLost, 1);
    }
    if (groupSize < kBitsPerWord && group.usedSummaries <= 1 && group.usedWords[0] <= 1) {
        // The usual group, all in its first word: counted without the walk over the words.
        CountMissingInWord(first & WordMask(0, size), 0, size);
        const uint64_t beyond = first & WordMask(groupSize, kBitsPerWord);
        if (beyond != 0) {
            AddSaturating(figures_.ignored, std::popcount(beyond));
        }
    } else {
        CountRange(group, 0, size, true);
        // Indexes beyond the size that never became part of it.
        CountRange(group, groupSize, kLargestTrackedGroupSize, false);
    }
    Clear(group);
    group.number = -1;
}

// Over the indexes [from, to) of a group, the words with a set bit one by one and those
// between them at once: with `missing`, the missing ones count as lost (and the loss runs
// follow them); otherwise the received ones count, as received below the group size and as
// ignored at or beyond it.
void LossAccountant::CountRange(const Group& group, int64_t from, int64_t to, bool missing) {
    for (int64_t start = from; start < to;) {
        const int64_t word = NextUsedWord(group, start / kBitsPerWord);
        const int64_t wordStart = word * kBitsPerWord;
        const int64_t gapEnd = std::min(to, std::max(start, wordStart));
        if (missing && gapEnd > start) {
            CountMissing(gapEnd - start);  // no bit set in between
        }
        start = gapEnd;
        if (start >= to) {
            break;
        }
        const int64_t stop = std::min(to, wordStart + kBitsPerWord);
        const uint64_t bits = group.bits[static_cast<size_t>(word)] & WordMask(start - wordStart, stop - wordStart);
        if (missing) {
            CountMissingInWord(bits, start - wordStart, stop - wordStart);
        } else if (bits != 0) {
            AddSaturating(start < figures_.groupSize ? figures_.received : figures_.ignored, std::popcount(bits));
        }
        start = stop;
    }
}

// Runs of received and missing indexes within the bits [from, to) of one word.
void LossAccountant::CountMissingInWord(uint64_t bits, int64_t from, int64_t to) {
    for (int64_t bit = from; bit < to;) {
        const uint64_t rest = bits >> bit;
        if ((rest & 1u) != 0) {
            bit += std::countr_one(rest);
            currentLossRun_ = 0;
        } else {
            const int64_t zeros = std::min<int64_t>(std::countr_zero(rest), to - bit);
            CountMissing(zeros);
            bit += zeros;
        }
    }
}

// The first word from `word` on that may hold a set bit; kWordsPerGroup when none does.
int64_t LossAccountant::NextUsedWord(const Group& group, int64_t word) {
    auto summary = static_cast<size_t>(word / kBitsPerWord);
    // The words before `word` in its own summary word are left out.
    uint64_t used =
        summary < group.usedWords.size() ? group.usedWords[summary] & (~uint64_t{0} << (word % kBitsPerWord)) : 0;
    if (used == 0) {
        const uint32_t later = summary + 1 < group.usedWords.size() ? group.usedSummaries >> (summary + 1) : 0;
        if (later == 0) {
            return static_cast<int64_t>(kWordsPerGroup);
        }
        summary += 1 + static_cast<size_t>(std::countr_zero(later));
        used = group.usedWords[summary];
    }
    return static_cast<int64_t>(summary) * kBitsPerWord + std::countr_zero(used);
}

// Clears the words that may hold a set bit, keeping the memory.
void LossAccountant::Clear(Group& group) {
    for (uint32_t summaries = group.usedSummaries; summaries != 0; summaries &= summaries - 1) {
        const auto summary = static_cast<size_t>(std::countr_zero(summaries));
        for (uint64_t used = group.usedWords[summary]; used != 0; used &= used - 1) {
            group.bits[summary * kBitsPerWord + static_cast<size_t>(std::countr_zero(used))] = 0;
        }
        group.usedWords[summary] = 0;
    }
    group.usedSummaries = 0;
}

void LossAccountant::CountMissing(int64_t packets) {
    if (currentLossRun_ == 0 && packets > 0) {
        AddSaturating(figures_.lossRuns, 1);
    }
    AddSaturating(figures_.lost, packets);
    AddSaturating(currentLossRun_, packets);
    figures_.longestLossRun = std::max(figures_.longestLossRun, currentLossRun_);
    intervalLongestLossRun_ = std::max(intervalLongestLossRun_, currentLossRun_);
}

int64_t LossAccountant::TakeIntervalLongestLossRun() {
    const int64_t longest = intervalLongestLossRun_;
    intervalLongestLossRun_ = 0;
    return longest;
}

bool LossAccountant::TestAndSet(Group& group, int32_t index) {
    const size_t word = static_cast<size_t>(index) / kBitsPerWord;
    if (word >= group.bits.size()) {
        group.bits.resize(word + 1, 0);  // grows once to the run's group size, then reused
    }
    group.usedWords[word / kBitsPerWord] |= uint64_t{1} << (word % kBitsPerWord);
    group.usedSummaries |= uint32_t{1} << (word / kBitsPerWord);
    const uint64_t bit = uint64_t{1} << (index % kBitsPerWord);
    const bool wasSet = (group.bits[word] & bit) != 0;
    group.bits[word] |= bit;
    return wasSet;
}
