// A snapshot of shared statistics is one publish, also when a publish falls in its middle.

#include "measure/shared_statistics.h"

#include <gtest/gtest.h>

#include <functional>

#include "base/shared_value.h"

namespace {

// A two-field record whose load runs a hook between its fields: the moment at which a
// worker's publish can fall in the middle of a snapshot, made to happen every time.
struct TwoFields {
    int64_t first = 0;
    int64_t second = 0;
};

std::function<void()> betweenFields;

void StoreSharedRecord(TwoFields& to, const TwoFields& from) {
    StoreShared(to.first, from.first);
    StoreShared(to.second, from.second);
}

TwoFields LoadSharedRecord(const TwoFields& from) {
    TwoFields to;
    to.first = LoadShared(from.first);
    if (betweenFields) {
        const std::function<void()> hook = std::move(betweenFields);
        betweenFields = nullptr;
        hook();
    }
    to.second = LoadShared(from.second);
    return to;
}

TEST(SharedStatistics, ASnapshotIsOnePublishWhenAnotherFallsInItsMiddle) {
    SharedStatistics<TwoFields> shared;
    shared.Working() = TwoFields{1, 1};
    shared.Publish();
    betweenFields = [&] {
        shared.Working() = TwoFields{2, 2};
        shared.Publish();
    };
    const TwoFields seen = shared.Snapshot();
    EXPECT_EQ(seen.first, 2);
    EXPECT_EQ(seen.second, 2);
}

}  // namespace
