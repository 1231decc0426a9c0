#include "sessions/provisional_loss.h"

#include <algorithm>
#include <limits>

namespace {

constexpr int64_t kMaxCount = std::numeric_limits<int64_t>::max();

int64_t Packets(int64_t groups, int64_t groupSize) {
    const int64_t size = std::max<int64_t>(groupSize, 1);
    return groups > kMaxCount / size ? kMaxCount : groups * size;
}

void AddSaturating(int64_t& count, int64_t amount) {
    count = amount > kMaxCount - count ? kMaxCount : count + amount;
}

}  // namespace

void ProvisionalLoss::Apply(LossFigures& interval, const RunPosition& position, int64_t dueGroups) {
    if (position.run != run_) {
        // A restarted sender's new group numbers never count the old run's gap: nothing to settle.
        unsettled_.clear();
        run_ = position.run;
    }
    // The group numbers counted these again in this interval: once is enough.
    const int64_t settled = Settle(position.closedThrough);
    interval.expected = std::max<int64_t>(0, interval.expected - settled);
    interval.lost = std::max<int64_t>(0, interval.lost - settled);
    const int64_t added = Add(position, dueGroups);
    AddSaturating(interval.expected, added);
    AddSaturating(interval.lost, added);
}

// The packets of the groups counted here that the group numbers have now closed.
int64_t ProvisionalLoss::Settle(int64_t closedThrough) {
    int64_t packets = 0;
    while (!unsettled_.empty() && unsettled_.front().from <= closedThrough) {
        Range& range = unsettled_.front();
        const int64_t through = std::min(range.through, closedThrough);
        AddSaturating(packets, Packets(through - range.from + 1, range.groupSize));
        if (range.through <= closedThrough) {
            unsettled_.erase(unsettled_.begin());
        } else {
            range.from = through + 1;
        }
    }
    return packets;
}

// The packets of the groups due by now that no earlier report counted; none when the due
// groups end before the latest received (a packet came meanwhile).
int64_t ProvisionalLoss::Add(const RunPosition& position, int64_t dueGroups) {
    if (dueGroups <= 0) {
        return 0;
    }
    const int64_t counted = unsettled_.empty() ? position.latestGroup : unsettled_.back().through;
    const int64_t from = std::max(position.latestGroup, counted) + 1;
    const int64_t through = position.latestGroup > kMaxCount - dueGroups ? kMaxCount : position.latestGroup + dueGroups;
    if (through < from) {
        return 0;
    }
    if (!unsettled_.empty() && unsettled_.back().through + 1 == from &&
        unsettled_.back().groupSize == position.groupSize) {
        unsettled_.back().through = through;
    } else {
        if (unsettled_.size() > static_cast<size_t>(kLossWindowGroups)) {
            unsettled_.erase(unsettled_.begin());  // beyond the bound above: never, but memory stays bounded
        }
        unsettled_.push_back({from, through, position.groupSize});
    }
    return Packets(through - from + 1, position.groupSize);
}
