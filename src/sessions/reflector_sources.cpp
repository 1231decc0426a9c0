#include "sessions/reflector_sources.h"

#include <algorithm>

#include "base/clock.h"
#include "measure/packet_blocks.h"

ReflectorSources::ReflectorSources(ReflectorSourcesSettings settings, int64_t frequency)
    : settings_{settings.timeoutSeconds, std::max(1, settings.maxSources)}, frequency_(frequency) {}

ReflectorDecision ReflectorSources::Take(const ReceivedDatagram& datagram) {
    if (datagram.length < static_cast<int64_t>(kStampedPacketMinSize)) {
        return {ReflectorVerdict::TooShort};
    }
    const auto length = static_cast<uint32_t>(datagram.length);
    if (CarriesStamps(datagram.bytes, length)) {
        return {ReflectorVerdict::AlreadyStamped};
    }
    const std::optional<uint32_t> end = FillerBlocksEnd(datagram.bytes, length);
    if (!end || uint64_t{*end} + kFillerBlockHeaderSize + kStampsBodySize > length) {
        return {ReflectorVerdict::TooShort};
    }
    const EndpointKey key = datagram.source.SenderKey();
    const auto found = sources_.find(key);
    if (found != sources_.end()) {
        found->second.lastArrival = datagram.arrival;
        return Count(found->second, found->second.check.Classify(datagram, frequency_));
    }
    // What cannot begin a run takes no place in the table.
    Source fresh;
    fresh.lastArrival = datagram.arrival;
    const ClassifiedDatagram classified = fresh.check.Classify(datagram, frequency_);
    if (classified.kind == DatagramKind::NotTestPacket) {
        return {ReflectorVerdict::NotTestPacket};
    }
    Source* source = Add(key, std::move(fresh));
    return source == nullptr ? ReflectorDecision{ReflectorVerdict::Refused} : Count(*source, classified);
}

// The run's packets so far, and those waiting to confirm a run: a sender's first packets are
// answered before three of them have confirmed its run, and counted then.
ReflectorDecision ReflectorSources::Count(Source& source, const ClassifiedDatagram& classified) {
    source.check.TakeDroppedPackets();
    switch (classified.kind) {
        case DatagramKind::NotTestPacket:
            return {ReflectorVerdict::NotTestPacket};
        case DatagramKind::NewRun:
            source.runPackets = static_cast<int64_t>(source.check.ConfirmedPackets().size());
            break;
        case DatagramKind::Held:
            break;
        default:
            ++source.runPackets;
    }
    const int64_t waiting = source.check.HeldPackets();
    return {ReflectorVerdict::Answer, (source.check.RunStarted() ? source.runPackets : 0) + waiting};
}

ReflectorSources::Source* ReflectorSources::Add(const EndpointKey& key, Source source) {
    if (sources_.size() >= static_cast<size_t>(settings_.maxSources)) {
        ForgetQuiet(source.lastArrival);
        if (sources_.size() >= static_cast<size_t>(settings_.maxSources)) {
            return nullptr;
        }
    }
    return &sources_.emplace(key, std::move(source)).first->second;
}

bool ReflectorSources::Quiet(const Source& source, int64_t now) const {
    return static_cast<double>(CounterDifference(now, source.lastArrival)) >
           settings_.timeoutSeconds * static_cast<double>(frequency_);
}

void ReflectorSources::ForgetQuiet(int64_t now) {
    std::erase_if(sources_, [&](const auto& entry) { return Quiet(entry.second, now); });
}
