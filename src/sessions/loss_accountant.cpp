#include "sessions/loss_accountant.h"

#include <algorithm>
#include <limits>

namespace {

constexpr int64_t kMaxCount = std::numeric_limits<int64_t>::max();

// Counts saturate: a confirmed jump of many groups must not overflow them.
void AddSaturating(int64_t& count, int64_t amount) {
    count = amount > kMaxCount - count ? kMaxCount : count + amount;
}

int64_t MultiplySaturating(int64_t a, int64_t b) {
    return b != 0 && a > kMaxCount / b ? kMaxCount : a * b;
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

void LossAccountant::Add(int64_t groupNumber, int32_t indexInGroup, std::optional<uint16_t> paddingGroupSize) {
    if (indexInGroup < 0 || indexInGroup >= kLargestTrackedGroupSize || groupNumber < 0 ||
        (started_ && groupNumber < oldestOpen_)) {
        ++figures_.ignored;
        return;
    }
    if (!started_) {
        started_ = true;
        oldestOpen_ = groupNumber;
        latestGroup_ = groupNumber;
        latestIndex_ = indexInGroup;
    }
    TrackGroupSize(indexInGroup, paddingGroupSize);
    const bool sentEarlier = groupNumber < latestGroup_ || (groupNumber == latestGroup_ && indexInGroup < latestIndex_);
    if (groupNumber > latestGroup_) {
        CloseGroupsBefore(groupNumber - (kLossWindowGroups - 1));
        latestGroup_ = groupNumber;
        latestIndex_ = indexInGroup;
    } else if (groupNumber == latestGroup_ && indexInGroup > latestIndex_) {
        latestIndex_ = indexInGroup;
    }
    Group& group = SlotOf(groupNumber);
    if (TestAndSet(group, indexInGroup)) {
        ++figures_.duplicates;
        return;
    }
    ++figures_.received;
    if (sentEarlier) {
        ++figures_.reordered;
    }
}

void LossAccountant::Finish() {
    if (started_) {
        CloseGroupsBefore(latestGroup_ + 1);
    }
}

// The padding's size is trusted only while every packet carried the same checked size and
// no index reached it; otherwise the largest index seen tells the size.
void LossAccountant::TrackGroupSize(int32_t indexInGroup, std::optional<uint16_t> paddingGroupSize) {
    if (!paddingGroupSize || (paddingSize_ && *paddingSize_ != *paddingGroupSize)) {
        paddingAgrees_ = false;
    } else if (!paddingSize_) {
        paddingSize_ = paddingGroupSize;
    }
    largestIndex_ = std::max(largestIndex_, indexInGroup);
    const bool trusted = paddingAgrees_ && paddingSize_ && largestIndex_ < *paddingSize_;
    figures_.groupSize = trusted ? *paddingSize_ : largestIndex_ + 1;
    figures_.groupSizeInferred = !trusted;
}

LossAccountant::Group& LossAccountant::SlotOf(int64_t groupNumber) {
    // Open groups lie within kLossWindowGroups of each other, so their slots differ.
    Group& group = window_[static_cast<size_t>(groupNumber % kLossWindowGroups)];
    group.number = groupNumber;
    return group;
}

void LossAccountant::CloseGroupsBefore(int64_t groupNumber) {
    // Only the first kLossWindowGroups groups can hold packets; the rest of a jump is empty.
    const int64_t lastWithSlot = std::min(groupNumber, oldestOpen_ + kLossWindowGroups);
    for (; oldestOpen_ < lastWithSlot; ++oldestOpen_) {
        Group& group = window_[static_cast<size_t>(oldestOpen_ % kLossWindowGroups)];
        if (group.number == oldestOpen_) {
            CloseGroup(group);
        } else {
            AddSaturating(figures_.expected, figures_.groupSize);
            CountMissing(figures_.groupSize);
            AddSaturating(figures_.firstPacketsLost, 1);
        }
    }
    if (oldestOpen_ < groupNumber) {
        const int64_t packets = MultiplySaturating(groupNumber - oldestOpen_, figures_.groupSize);
        AddSaturating(figures_.expected, packets);
        CountMissing(packets);
        AddSaturating(figures_.firstPacketsLost, groupNumber - oldestOpen_);
        oldestOpen_ = groupNumber;
    }
}

// A group is closed with the size known then; later changes of the size leave it alone,
// so that the count of lost packets never goes down.
void LossAccountant::CloseGroup(Group& group) {
    const auto size = static_cast<int32_t>(figures_.groupSize);
    AddSaturating(figures_.expected, size);
    if (group.bits.empty() || (group.bits[0] & 1u) == 0) {
        AddSaturating(figures_.firstPacketsLost, 1);
    }
    for (int32_t index = 0; index < size; ++index) {
        const size_t word = static_cast<size_t>(index) / 64;
        const bool received = word < group.bits.size() && ((group.bits[word] >> (index % 64)) & 1u) != 0;
        if (received) {
            currentLossRun_ = 0;
        } else {
            CountMissing(1);
        }
    }
    group.number = -1;
    std::fill(group.bits.begin(), group.bits.end(), 0);
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
    const size_t word = static_cast<size_t>(index) / 64;
    if (word >= group.bits.size()) {
        group.bits.resize(word + 1, 0);  // grows once to the run's group size, then reused
    }
    const uint64_t bit = uint64_t{1} << (index % 64);
    const bool wasSet = (group.bits[word] & bit) != 0;
    group.bits[word] |= bit;
    return wasSet;
}
