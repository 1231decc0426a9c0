#include "sessions/session_table.h"

#include <algorithm>
#include <iterator>
#include <optional>
#include <utility>

#include "base/clock.h"
#include "sessions/session.h"

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
      frequency_(clock.Frequency()) {}

SessionTable::~SessionTable() = default;

void SessionTable::TakeDatagram(const ReceivedDatagram& datagram) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (datagram.truncated) {
        TakeOversized(datagram);
        return;
    }
    bytesReceived_ += datagram.length;
    auto found = sessions_.find(datagram.source.SenderKey());
    if (found == sessions_.end()) {
        if (!Session::StartsSession(datagram)) {
            ++notTestPackets_;
            return;
        }
        found = StartSession(datagram.source, datagram.arrival);
    }
    if (!found->second->Take(datagram)) {
        ++notTestPackets_;
    }
}

void SessionTable::TakeOversized(const ReceivedDatagram& datagram) {
    bytesReceived_ += datagram.fullLength;
    ++notTestPackets_;
    const auto found = sessions_.find(datagram.source.SenderKey());
    if (found != sessions_.end()) {
        found->second->TakeOversized(datagram.fullLength);
    }
}

SessionTable::SessionMap::iterator SessionTable::StartSession(const Endpoint& source, int64_t arrival) {
    if (sessions_.size() >= static_cast<size_t>(settings_.maxSessions)) {
        PushOutOldestIdle();
    }
    auto session = std::make_unique<Session>(nextSessionNumber_++, source, arrival, frequency_);
    return sessions_.emplace(source.SenderKey(), std::move(session)).first;
}

void SessionTable::PushOutOldestIdle() {
    const auto oldest = std::min_element(sessions_.begin(), sessions_.end(), [](const auto& a, const auto& b) {
        return CounterDifference(a.second->LastTestPacketCounter(), b.second->LastTestPacketCounter()) < 0;
    });
    if (oldest == sessions_.end()) {
        return;
    }
    ++droppedSessions_;
    if (pushedOut_.size() < static_cast<size_t>(settings_.maxSessions)) {
        pushedOut_.push_back(oldest->second->TakeFigures(true));
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
    std::vector<SessionFigures> ended;
    std::vector<EndpointKey> keys;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        ended = std::exchange(pushedOut_, {});
        keys.reserve(sessions_.size());
        for (const auto& entry : sessions_) {
            keys.push_back(entry.first);
        }
    }
    SessionsReport report;
    report.sessions.reserve(keys.size());
    // One session at a time: the receiving thread never waits for more than one session's
    // figures (tens of microseconds), so datagrams queued meanwhile keep true arrival times.
    for (const EndpointKey& key : keys) {
        std::optional<SessionFigures> figures = TakeFiguresOf(key, now, final);
        if (figures) {
            (figures->final ? ended : report.sessions).push_back(std::move(*figures));
        }
    }
    const std::lock_guard<std::mutex> lock(mutex_);
    // Sessions pushed out while the figures were taken.
    std::move(pushedOut_.begin(), pushedOut_.end(), std::back_inserter(ended));
    pushedOut_.clear();
    SortByStart(report.sessions);
    SortByStart(ended);
    report.sessions.insert(report.sessions.end(), std::make_move_iterator(ended.begin()),
                           std::make_move_iterator(ended.end()));
    report.notTestPackets = notTestPackets_;
    report.droppedSessions = droppedSessions_;
    report.bytesReceived = bytesReceived_;
    report.sessionsStarted = nextSessionNumber_ - 1;
    return report;
}

std::optional<SessionFigures> SessionTable::TakeFiguresOf(const EndpointKey& key, int64_t now, bool final) {
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto found = sessions_.find(key);
    if (found == sessions_.end()) {
        return std::nullopt;  // pushed out meanwhile: its figures wait among those pushed out
    }
    const bool ends = final || TimedOut(*found->second, now);
    SessionFigures figures = found->second->TakeFigures(ends);
    if (ends) {
        sessions_.erase(found);
    }
    return figures;
}
