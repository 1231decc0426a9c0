#include <sched.h>
#include <time.h>

#include <cerrno>

#include "base/clock.h"

namespace {

int64_t MonotonicNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

}  // namespace

int64_t QueryCounter() {
    return MonotonicNanoseconds();
}

int64_t QueryCounterFrequency() {
    return 1'000'000'000;
}

uint32_t TickCountMs() {
    // Truncated to 32 bits like the Windows tick count, so callers handle the same wrap.
    return static_cast<uint32_t>(MonotonicNanoseconds() / 1'000'000);
}

void SleepMs(uint32_t ms) {
    if (ms == 0) {
        sched_yield();
        return;
    }
    timespec remaining{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1'000'000};
    // A signal cuts the sleep short; go on sleeping for what is left.
    while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
}

void SleepUntilCounter(int64_t counter) {
    // An absolute deadline: the wake-up does not drift by the time spent getting here.
    const timespec deadline{static_cast<time_t>(counter / 1'000'000'000), static_cast<long>(counter % 1'000'000'000)};
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
}
