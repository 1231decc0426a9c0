#include "sessions/call_streams.h"

#include "base/clock.h"

namespace {

constexpr double kMsPerSecond = 1000.0;

double CounterSeconds(int64_t end, int64_t start, int64_t frequency) {
    return static_cast<double>(CounterDifference(end, start)) / static_cast<double>(frequency);
}

}  // namespace

void CallStreams::Restart() {
    latest_.clear();
}

CallSample CallStreams::Measure(const TestPacketHeader& header,
                                int64_t arrival,
                                int64_t frequency,
                                const DelayReference& reference) {
    const auto index = static_cast<size_t>(header.indexInGroup);
    if (index >= latest_.size()) {
        latest_.resize(index + 1);
    }
    Latest& latest = latest_[index];
    CallSample sample;
    sample.runSeconds = CounterSeconds(arrival, reference.arrival, frequency);
    sample.delayMs =
        (sample.runSeconds - CounterSeconds(header.sendCounter, reference.sendCounter, header.counterFrequency)) *
        kMsPerSecond;
    if (latest.taken) {
        sample.jitterMs = (CounterSeconds(arrival, latest.arrival, frequency) -
                           CounterSeconds(header.sendCounter, latest.sendCounter, header.counterFrequency)) *
                          kMsPerSecond;
    }
    latest = Latest{header.sendCounter, arrival, true};
    return sample;
}
