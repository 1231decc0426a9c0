#include "cli/session_table.h"

#include <algorithm>

#include "base/clock.h"
#include "cli/session.h"

namespace {

void SortByStart(std::vector<SessionFigures>& sessions) {
    std::sort(sessions.begin(), sessions.end(),
              [](const SessionFigures& a, const SessionFigures& b) { return a.session < b.session; });
}

}  // namespace

// FNV-1a over the key's bytes.
size_t SessionTable::KeyHash::operator()(const EndpointKey& key) const {
    uint64_t hash = 14695981039346656037ull;
    for (const unsigned char byte : key) {
        hash = (hash ^ byte) * 1099511628211ull;
    }
    return static_cast<size_t>(hash);
}

SessionTable::SessionTable(Clock& clock, SessionTableSettings settings)
    : clock_(clock),
      settings_{settings.timeoutSeconds, std::max(1, settings.maxSessions)},
      frequency_(clock.Frequency()),
      origin_(clock.Counter()) {}

SessionTable::~SessionTable() = default;

void SessionTable::TakeDatagram(const uint8_t* datagram, int64_t length, const Endpoint& source, int trafficClass) {
    // The arrival is read before the lock, so that a report under way never delays it.
    const int64_t arrival = clock_.Counter();
    const std::lock_guard<std::mutex> lock(mutex_);
    bytesReceived_ += length;
    auto found = sessions_.find(source.SenderKey());
    if (found == sessions_.end()) {
        if (!Session::StartsSession(datagram, length)) {
            ++notTestPackets_;
            return;
        }
        found = StartSession(source, arrival);
    }
    if (!found->second->Take(datagram, length, trafficClass, arrival)) {
        ++notTestPackets_;
    }
}

void SessionTable::TakeOversizedDatagram(const Endpoint& source, int64_t fullLength) {
    const std::lock_guard<std::mutex> lock(mutex_);
    bytesReceived_ += fullLength;
    ++notTestPackets_;
    const auto found = sessions_.find(source.SenderKey());
    if (found != sessions_.end()) {
        found->second->TakeOversized(fullLength);
    }
}

SessionTable::SessionMap::iterator SessionTable::StartSession(const Endpoint& source, int64_t arrival) {
    if (sessions_.size() >= static_cast<size_t>(settings_.maxSessions)) {
        PushOutOldestIdle(arrival);
    }
    auto session = std::make_unique<Session>(nextSessionNumber_++, source, arrival, frequency_);
    return sessions_.emplace(source.SenderKey(), std::move(session)).first;
}

void SessionTable::PushOutOldestIdle(int64_t now) {
    const auto oldest = std::min_element(sessions_.begin(), sessions_.end(), [](const auto& a, const auto& b) {
        return CounterDifference(a.second->LastTestPacketCounter(), b.second->LastTestPacketCounter()) < 0;
    });
    if (oldest == sessions_.end()) {
        return;
    }
    ++droppedSessions_;
    if (pushedOut_.size() < static_cast<size_t>(settings_.maxSessions)) {
        pushedOut_.push_back(oldest->second->TakeFigures(now, origin_, true));
    }
    sessions_.erase(oldest);
}

bool SessionTable::TimedOut(const Session& session, int64_t now) const {
    const double idleSeconds =
        static_cast<double>(CounterDifference(now, session.LastTestPacketCounter())) / static_cast<double>(frequency_);
    return idleSeconds >= settings_.timeoutSeconds;
}

SessionsReport SessionTable::TakeReport(bool final) {
    const int64_t now = clock_.Counter();
    const std::lock_guard<std::mutex> lock(mutex_);
    SessionsReport report;
    std::vector<SessionFigures> ended = std::move(pushedOut_);
    pushedOut_.clear();
    for (auto it = sessions_.begin(); it != sessions_.end();) {
        Session& session = *it->second;
        const bool ends = final || TimedOut(session, now);
        (ends ? ended : report.sessions).push_back(session.TakeFigures(now, origin_, ends));
        it = ends ? sessions_.erase(it) : std::next(it);
    }
    SortByStart(report.sessions);
    SortByStart(ended);
    report.sessions.insert(report.sessions.end(), std::make_move_iterator(ended.begin()),
                           std::make_move_iterator(ended.end()));
    report.notTestPackets = notTestPackets_;
    report.droppedSessions = droppedSessions_;
    report.bytesReceived = bytesReceived_;
    return report;
}
