#include "base/clock.h"

int64_t CounterDifference(int64_t end, int64_t start) {
    // Unsigned arithmetic wraps instead of overflowing, so counter values from a foreign
    // packet can never make the subtraction undefined.
    return static_cast<int64_t>(static_cast<uint64_t>(end) - static_cast<uint64_t>(start));
}

double ElapsedMs(int64_t start, int64_t end, int64_t frequency) {
    return ElapsedSeconds(start, end, frequency) * 1000.0;
}

int64_t Clock::FromSystemCounter(int64_t systemCounter) {
    const int64_t now = Counter();
    const double since = ElapsedSeconds(systemCounter, QueryCounter(), QueryCounterFrequency());
    return now - static_cast<int64_t>(since * static_cast<double>(Frequency()));
}

namespace {

class SystemCounterClock final : public Clock {
  public:
    int64_t Counter() override { return QueryCounter(); }
    int64_t Frequency() override { return QueryCounterFrequency(); }
    int64_t FromSystemCounter(int64_t systemCounter) override { return systemCounter; }
};

}  // namespace

Clock& SystemClock() {
    static SystemCounterClock clock;
    return clock;
}
