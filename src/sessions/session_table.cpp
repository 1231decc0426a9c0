#include "sessions/session_table.h"

#include <algorithm>
#include <iterator>
#include <optional>
#include <utility>

#include "base/clock.h"
#include "measure/sender_name_block.h"
#include "sessions/session.h"

namespace {

void SortByStart(std::vector<SessionFigures>& sessions) {
    std::sort(sessions.begin(), sessions.end(),
              [](const SessionFigures& a, const SessionFigures& b) { return a.session < b.session; });
}

}  // namespace

SessionTable::SessionTable(Clock& clock,
                           SessionTableSettings settings,
                           std::shared_ptr<DatagramAuthenticator> authenticator)
    : clock_(clock),
      settings_{settings.timeoutSeconds, std::max(1, settings.maxSessions)},
      frequency_(clock.Frequency()),
      listeningSince_(clock.Counter()),
      authenticator_(std::move(authenticator)) {}

SessionTable::~SessionTable() = default;

void SessionTable::TakeDatagram(const ReceivedDatagram& datagram) {
    // Checked before the lock: the check's cost never holds up a report. What was cut off a
    // datagram too long for the buffer cannot be checked.
    const bool authentic =
        !authenticator_ || (!datagram.truncated && authenticator_->Authentic(datagram.bytes, datagram.length));
    const std::lock_guard<std::mutex> lock(mutex_);
    if (!authentic) {
        bytesReceived_ += datagram.truncated ? datagram.fullLength : datagram.length;
        ++unauthenticatedPackets_;
        return;
    }
    if (datagram.truncated) {
        TakeOversized(datagram);
        return;
    }
    bytesReceived_ += datagram.length;
    Session* session = Find(datagram.source);
    if (const std::optional<EndOfRun> end = ReadEndOfRun(datagram.bytes, datagram.length)) {
        TakeEndOfRun(session, *end, datagram.arrival);
        return;
    }
    if (session == nullptr) {
        TakeFromUnconfirmed(datagram);
        return;
    }
    notTestPackets_ += session->Take(datagram);
}

// The session found last, with the bytes of its source as they came, is most often the one
// asked for again: its check skips building a key and hashing it.
Session* SessionTable::Find(const Endpoint& source) {
    if (lastSession_ != nullptr && source.SameKeyBytes(lastSource_)) {
        return lastSession_;
    }
    const auto found = sessions_.find(source.SenderKey());
    if (found == sessions_.end()) {
        return nullptr;
    }
    lastSource_ = source;
    lastSession_ = found->second.get();
    return lastSession_;
}

void SessionTable::Erase(SessionMap::iterator session) {
    lastSession_ = nullptr;
    sessions_.erase(session);
}

// An end of run that no run of its source can have sent is no test packet's business either.
void SessionTable::TakeEndOfRun(Session* session, const EndOfRun& end, int64_t arrival) {
    if (session == nullptr || !session->TakeEndOfRun(end, arrival)) {
        ++notTestPackets_;
    }
}

void SessionTable::TakeOversized(const ReceivedDatagram& datagram) {
    bytesReceived_ += datagram.fullLength;
    ++notTestPackets_;
    Session* session = Find(datagram.source);
    if (session != nullptr) {
        session->TakeOversized(datagram.fullLength);
    }
}

// A source becomes a session only once its test packets confirm a run: until then its
// datagrams wait in a small record and change no figure.
void SessionTable::TakeFromUnconfirmed(const ReceivedDatagram& datagram) {
    const EndpointKey key = datagram.source.SenderKey();
    auto record = unconfirmed_.find(key);
    if (record == unconfirmed_.end()) {
        PacketCheck check;
        if (check.Classify(datagram, frequency_).kind == DatagramKind::NotTestPacket) {
            ++notTestPackets_;  // no record for what cannot begin a run
            return;
        }
        if (unconfirmed_.size() >= kMaxUnconfirmedSources) {
            ForgetUnconfirmed(
                std::min_element(unconfirmed_.begin(), unconfirmed_.end(), [](const auto& a, const auto& b) {
                    return CounterDifference(a.second.lastArrival, b.second.lastArrival) < 0;
                }));
        }
        ++unconfirmedSources_;
        unconfirmed_.emplace(key, Unconfirmed{check, datagram.arrival, false});
        return;  // one packet confirms no run
    }
    Unconfirmed& waiting = record->second;
    waiting.lastArrival = datagram.arrival;
    const ClassifiedDatagram classified = waiting.check.Classify(datagram, frequency_);
    const DatagramKind kind = classified.kind;
    notTestPackets_ += waiting.check.TakeDroppedPackets();
    if (kind == DatagramKind::NotTestPacket || kind == DatagramKind::Held) {
        notTestPackets_ += kind == DatagramKind::NotTestPacket ? 1 : 0;
        return;
    }
    const HeldPacket current{classified.header, classified.groupSize, datagram.arrival, datagram.length,
                             datagram.trafficClass};
    const std::span<const HeldPacket> packets =
        kind == DatagramKind::NewRun ? waiting.check.ConfirmedPackets() : std::span<const HeldPacket>(&current, 1);
    if (MoveNamedSession(datagram, waiting.check, packets)) {
        StopWaiting(record);
        return;
    }
    if (!MakeRoom(datagram.arrival)) {
        if (!waiting.refused) {
            waiting.refused = true;
            ++refusedSessions_;
            --unconfirmedSources_;
        }
        notTestPackets_ += static_cast<int64_t>(packets.size());
        refusedPackets_ += static_cast<int64_t>(packets.size());
        return;
    }
    auto session =
        std::make_unique<Session>(nextSessionNumber_++, datagram.source, frequency_, waiting.check, listeningSince_);
    session->TakeFirstPackets(packets);
    StopWaiting(record);
    sessions_.emplace(key, std::move(session));
}

// A waiting source whose run went to a session: it waits no more. A refused one was counted as
// waiting no more when it was refused.
void SessionTable::StopWaiting(UnconfirmedMap::iterator record) {
    unconfirmedSources_ -= record->second.refused ? 0 : 1;
    unconfirmed_.erase(record);
}

// With a key only the key's holders name a sender, so a name may follow its sender to another
// address (a restart from another port, a new NAT mapping): the session goes on there with a new
// run. Only a session that has heard nothing since the new run's first packet moves, so that a
// replayed datagram, or a second sender of the same name, never takes a live session away.
bool SessionTable::MoveNamedSession(const ReceivedDatagram& datagram,
                                    const PacketCheck& check,
                                    std::span<const HeldPacket> packets) {
    if (!authenticator_ || packets.empty()) {
        return false;
    }
    const std::optional<std::string_view> name = ReadSenderName({datagram.bytes, static_cast<size_t>(datagram.length)});
    const int64_t runStart = packets.front().arrival;
    const auto named = std::find_if(sessions_.begin(), sessions_.end(), [&](const auto& entry) {
        return name && entry.second->NamedAs(*name) &&
               CounterDifference(entry.second->LastTestPacketCounter(), runStart) < 0;
    });
    if (named == sessions_.end()) {
        return false;
    }
    std::unique_ptr<Session> session = std::move(named->second);
    Erase(named);
    session->MoveTo(datagram.source, check, packets);
    sessions_.emplace(datagram.source.SenderKey(), std::move(session));
    return true;
}

void SessionTable::ForgetUnconfirmed(UnconfirmedMap::iterator record) {
    notTestPackets_ += record->second.check.HeldPackets();
    forgottenSources_ += record->second.refused ? 0 : 1;  // a refused source counts as refused only
    unconfirmed_.erase(record);
}

void SessionTable::ForgetQuietUnconfirmed(int64_t now, bool all) {
    for (auto record = unconfirmed_.begin(); record != unconfirmed_.end();) {
        const auto next = std::next(record);
        if (all || SecondsBetween(now, record->second.lastArrival) >= settings_.timeoutSeconds) {
            ForgetUnconfirmed(record);
        }
        record = next;
    }
}

// Room for a newcomer: a free place, or the place of the session silent longest, if it has
// been silent for more than a few of its periods. A sender that keeps sending keeps its place.
bool SessionTable::MakeRoom(int64_t now) {
    if (sessions_.size() < static_cast<size_t>(settings_.maxSessions)) {
        return true;
    }
    auto silentLongest = sessions_.end();
    for (auto entry = sessions_.begin(); entry != sessions_.end(); ++entry) {
        const Session& session = *entry->second;
        const double silent = SecondsBetween(now, session.LastTestPacketCounter());
        const std::optional<double> period = session.PeriodSeconds();
        const bool mayGo = period ? silent > kSilentPeriodsBeforePushOut * *period : silent >= settings_.timeoutSeconds;
        if (mayGo &&
            (silentLongest == sessions_.end() ||
             CounterDifference(session.LastTestPacketCounter(), silentLongest->second->LastTestPacketCounter()) < 0)) {
            silentLongest = entry;
        }
    }
    if (silentLongest == sessions_.end()) {
        return false;
    }
    ++droppedSessions_;
    notTestPackets_ += silentLongest->second->HeldPackets();
    if (pushedOut_.size() < static_cast<size_t>(settings_.maxSessions)) {
        pushedOut_.push_back(silentLongest->second->TakeFigures(true, now));
        pushedOut_.back().ended = SessionEnd::PushedOut;
    }
    Erase(silentLongest);
    return true;
}

double SessionTable::SecondsBetween(int64_t end, int64_t start) const {
    return ElapsedSeconds(start, end, frequency_);
}

bool SessionTable::TimedOut(const Session& session, int64_t now) const {
    return SecondsBetween(now, session.LastTestPacketCounter()) >= settings_.timeoutSeconds;
}

SessionEnd SessionTable::EndOf(const Session& session, int64_t now, bool final) const {
    if (session.EndedBySender()) {
        return SessionEnd::BySender;
    }
    if (final) {
        return SessionEnd::ReceiverStopped;
    }
    return TimedOut(session, now) ? SessionEnd::TimedOut : SessionEnd::Open;
}

SessionsReport SessionTable::TakeReport(bool final) {
    const int64_t now = clock_.Counter();
    std::vector<SessionFigures> ended;
    std::vector<EndpointKey> keys;
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        ended = std::exchange(pushedOut_, {});
        ForgetQuietUnconfirmed(now, final);
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
    report.openSessions = static_cast<int64_t>(report.sessions.size());
    report.sessions.insert(report.sessions.end(), std::make_move_iterator(ended.begin()),
                           std::make_move_iterator(ended.end()));
    report.notTestPackets = notTestPackets_;
    report.droppedSessions = droppedSessions_;
    report.unauthenticatedPackets = unauthenticatedPackets_;
    report.refusedSessions = refusedSessions_;
    report.unconfirmedSources = unconfirmedSources_;
    report.forgottenSources = forgottenSources_;
    report.refusedPackets = refusedPackets_;
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
    const SessionEnd end = EndOf(*found->second, now, final);
    const bool ends = end != SessionEnd::Open;
    notTestPackets_ += ends ? found->second->HeldPackets() : 0;
    SessionFigures figures = found->second->TakeFigures(ends, now);
    figures.ended = end;
    if (ends) {
        Erase(found);
    }
    return figures;
}
