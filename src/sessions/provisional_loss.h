#pragma once
// The loss a silent sender's report intervals carry before its group numbers can tell it.
// While no test packet comes, each group due at the sender's own rate counts as lost in the
// interval, so that a dead path reads 100 % at once instead of 0 % until it comes back. When
// packets resume, the group numbers count the gap as its groups leave the loss window; the
// groups counted here are then taken out of that interval, so that the intervals still add up
// to the run's totals, which follow the group numbers alone.

#include <cstdint>
#include <vector>

#include "sessions/loss_accountant.h"

// Where the run's loss count stands at a report.
struct RunPosition {
    int64_t run = 0;            // a new run forgets what the last one counted here
    int64_t latestGroup = 0;    // the latest group received
    int64_t closedThrough = 0;  // the group numbers have counted every group up to this one
    int64_t groupSize = 0;      // packets per group
};

class ProvisionalLoss {
  public:
    // At a report: `interval` holds the interval's counts as the group numbers tell them;
    // `dueGroups` is how many groups the sender should have sent since its latest test packet
    // (0 when it is not silent).
    void Apply(LossFigures& interval, const RunPosition& position, int64_t dueGroups);

  private:
    // Groups counted here that the group numbers have not counted yet, in order.
    struct Range {
        int64_t from = 0;
        int64_t through = 0;
        int64_t groupSize = 0;  // as it was when they were counted
    };

    int64_t Settle(int64_t closedThrough);
    int64_t Add(const RunPosition& position, int64_t dueGroups);

    int64_t run_ = 0;
    // Each range ends before the latest group a later one began after, and all lie beyond the
    // closed groups: never more than the loss window's groups.
    std::vector<Range> unsettled_;
};
