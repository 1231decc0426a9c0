#include "sessions/call_streams.h"

#include "base/clock.h"
#include "measure/receiver_analysis.h"

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
    sample.runSeconds = ElapsedSeconds(reference.arrival, arrival, frequency);
    sample.delayMs = TransitChangeMs(sample.runSeconds, header, reference.sendCounter);
    if (latest.taken) {
        sample.jitterMs =
            TransitChangeMs(ElapsedSeconds(latest.arrival, arrival, frequency), header, latest.sendCounter);
    }
    latest = Latest{header.sendCounter, arrival, true};
    return sample;
}
