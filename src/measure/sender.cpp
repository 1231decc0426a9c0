#include "measure/sender.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "base/errors.h"
#include "base/socket_library.h"
#include "measure/engine_errors.h"
#include "measure/sender_name_block.h"
#include "measure/test_packet.h"
#include "measure/watchdog.h"

namespace {

constexpr double kMeanWeight = 0.998;
constexpr double kSampleWeight = 0.998 * 0.002;  // so a constant delay d settles at 0.998 * d
// A longer period is slept in slices of this length, so that a stop is seen within one slice.
constexpr uint32_t kSleepSliceMs = 100;

}  // namespace

void SendPacket(SendContext& context, int32_t indexInGroup, int64_t groupNumber) {
    WritePacketHeader(context.packet, indexInGroup, groupNumber, context.clock);
    if (context.finisher != nullptr) {
        context.finisher->Finish(context.packet, context.packetSize);
    }
    const int64_t before = context.clock.Counter();
    const SendResult result = context.socket.SendTo(context.packet, context.packetSize, context.destination);
    const int64_t after = context.clock.Counter();
    const double sendDelay = ElapsedMs(before, after, context.clock.Frequency());
    CheckSlowCall(context.logSink, kSendPacketSite, sendDelay);

    // Every attempt is timed, including those refused or failed.
    SenderStatistics& statistics = context.statistics;
    if (sendDelay > statistics.maxSendDelay) {
        statistics.maxSendDelay = sendDelay;
    }
    statistics.meanSendDelay = kMeanWeight * statistics.meanSendDelay + kSampleWeight * sendDelay;
    switch (result) {
        case SendResult::Sent:
            ++statistics.sentPackets;
            break;
        case SendResult::WouldBlock:
            // The socket's buffer is full: the packet is dropped, not retried, so the
            // group's timing is not stretched by the network stack.
            ++statistics.wouldBlockCount;
            break;
        case SendResult::Failed:
            ThrowEngineError(EngineError::SendFailed, SendFailure(context.destination, context.socket.LastError()));
    }
}

Sender::Sender(SenderObserver& observer, LogSink* logSink, Clock& clock)
    : observer_(observer), logSink_(logSink), clock_(clock) {}

Sender::~Sender() {
    senderStopFlag_.store(true);
    thread_.Join();
}

void Sender::Start(const SenderSettings& settings) {
    if (Running()) {
        ThrowEngineError(EngineError::SenderAlreadyStarted);
    }
    senderStopFlag_.store(false);
    statistics_.Clear();
    // The settings travel with the thread: it never has to ask the GUI thread for them.
    if (!thread_.Start([this, settings] { SenderThreadProc(settings); })) {
        senderStopFlag_.store(true);
        ThrowEngineError(EngineError::SenderThreadNotCreated);
    }
}

void Sender::Stop() {
    if (!Running()) {
        ThrowEngineError(EngineError::SenderNotStarted);
    }
    // The loop sees the flag between packets and within a sleep slice. A worker that does
    // not end in time is left to end by itself: it keeps this object's members until then
    // (the destructor joins), and Running() stays true.
    senderStopFlag_.store(true);
    if (!thread_.WaitForStop()) {
        ThrowEngineError(EngineError::SenderDidNotStop);
    }
}

void Sender::ResetStatistics() {
    // Counted after the request: a thread that reads the new count also finds the request.
    statistics_.Reset(Running());
    ++resetGeneration_;
}

void Sender::SenderThreadProc(const SenderSettings& settings) {
    // However the run ends, the statistics keep what it measured (less a reset still pending).
    RunWorkerBody(
        observer_, kSenderUnknownErrorText, [&] { SenderThreadEntry(settings); }, [this] { PublishFinalStatistics(); });
}

void Sender::PublishFinalStatistics() {
    if (!statistics_.ConsumeReset()) {
        statistics_.Publish();
    }
}

Endpoint SenderLocalEndpoint(const SenderSettings& settings) {
    return settings.sourceAddress.value_or(Endpoint::AnyOfFamily(settings.destination, settings.sourcePort));
}

void Sender::SenderThreadEntry(const SenderSettings& settings) {
    LogEvent(logSink_, "sender thread started");
    const SocketLibrary library;
    const bool shared = settings.sharedSocket != kNoSocket;
    UdpSocket socket = shared ? UdpSocket(settings.sharedSocket)
                              : OpenWorkerSocket(library, settings.destination, EngineError::SenderLibraryNotStarted,
                                                 EngineError::SenderSocketNotOpened);
    // A shared socket stays its owner's, however this thread ends.
    struct GiveBack {
        UdpSocket& socket;
        bool shared;
        ~GiveBack() {
            if (shared) {
                socket.Release();
            }
        }
    } giveBack{socket, shared};
    // In 64 bits: a size whose bytes do not fit the socket option's int is refused, not wrapped.
    const uint64_t sendBufferBytes = uint64_t{settings.bufferSizeKB} * 1024u;
    if (sendBufferBytes != 0) {
        if (sendBufferBytes > INT32_MAX || !socket.SetSendBufferSize(static_cast<uint32_t>(sendBufferBytes))) {
            ThrowEngineError(EngineError::SenderBufferNotSet,
                             std::to_string(sendBufferBytes) + " bytes: " +
                                 (sendBufferBytes > INT32_MAX ? std::string("more than the option takes")
                                                              : SocketErrorText(socket.LastError())));
        }
        LogEvent(logSink_, "senderBufferSize = %i bytes", static_cast<int32_t>(sendBufferBytes));
    }
    // Bound before the first send, which would otherwise let the system pick the port.
    const Endpoint local = SenderLocalEndpoint(settings);
    if (!shared && (settings.sourceAddress || settings.sourcePort != 0) && !socket.Bind(local)) {
        ThrowEngineError(EngineError::SenderNotBound, BindFailure(local, socket.LastError()));
    }
    if (settings.trafficClass >= 0 && !socket.SetTrafficClass(settings.destination, settings.trafficClass)) {
        ThrowEngineError(EngineError::SenderNotMarked, "DSCP " + std::to_string(settings.trafficClass >> 2) + ": " +
                                                           SocketErrorText(socket.LastError()));
    }
    if (!socket.SetNonBlocking()) {
        ThrowEngineError(EngineError::SenderNotNonBlocking, SocketErrorText(socket.LastError()));
    }
    const uint32_t packetSize = EffectivePacketSize(settings.packetSize);
    packetSize_.store(packetSize);
    // Every send would fail: refused before a buffer of up to 4 GB is allocated for it.
    if (packetSize > settings.destination.MaxDatagramPayload()) {
        ThrowEngineError(EngineError::SendFailed, settings.destination.ToString() + ": " + std::to_string(packetSize) +
                                                      " bytes are more than a datagram carries (" +
                                                      std::to_string(settings.destination.MaxDatagramPayload()) + ")");
    }
    // Zero-filled once per run: the filler never carries stale memory onto the wire. The
    // padding tells a receiver how many packets each group has, so that it can count each one.
    std::vector<uint8_t> packet(packetSize);
    WriteGroupSize(packet.data(), settings.packetsPerPeriod);
    // Written once, before any tag: a keyed packet's tag covers it like any other filler byte.
    if (!settings.name.empty() && !WriteSenderName(packet.data(), packetSize, settings.name)) {
        ThrowEngineError(EngineError::SendFailed,
                         std::to_string(packetSize) + "-byte packets leave no room for the sender name (" +
                             std::to_string(SenderNamePacketMinSize(settings.name)) + " bytes or more)");
    }
    SendContext context{socket,   settings.destination,   packet.data(), packetSize, statistics_.Working(), clock_,
                        logSink_, settings.finisher.get()};
    const EndOfRun end = RunPacingLoop(context, settings);
    // A run that sent nothing began no session anywhere: there is nothing to end.
    if (settings.announceEnd && end.lastGroup >= 0) {
        SendEndOfRun(context, end);
    }

    packet = std::vector<uint8_t>();
    if (!shared) {
        socket.Close();
    }
    LogEvent(logSink_, "sender thread stopped");
}

EndOfRun Sender::RunPacingLoop(SendContext& context, const SenderSettings& settings) {
    const int32_t packetsPerPeriod = settings.packetsPerPeriod;
    const uint32_t periodMs = settings.periodMs;
    // A schedule with a step of 0 would make every group late: it sends back to back instead.
    const bool fixedPace = settings.fixedPace && periodMs != 0;
    const int64_t scheduleStart = QueryCounter();
    const int64_t step = periodMs * QueryCounterFrequency() / 1000;
    const int64_t spreadSpan = fixedPace && settings.spreadOverPeriod ? step : 0;
    SenderStatistics& statistics = statistics_.Working();
    const uint32_t startTick = TickCountMs();
    int64_t groupNumber = 0;
    EndOfRun end;
    while (!senderStopFlag_.load()) {
        // The first group sets the schedule's start: it is never late.
        // A stop during the wait leaves the group unsent (SendGroup sees it before the first
        // packet), and the record below still gets the run's real duration.
        if (fixedPace && groupNumber != 0) {
            WaitForGroupTime(scheduleStart + groupNumber * step, statistics);
        }
        const int64_t groupStart = clock_.Counter();
        const int32_t sent =
            SendGroup(context, packetsPerPeriod, groupNumber, scheduleStart + groupNumber * step, spreadSpan);
        if (sent > 0) {
            end.lastGroup = groupNumber;
            end.packetsInLastGroup = static_cast<uint32_t>(sent);
        }
        if (sent == packetsPerPeriod) {
            const int64_t groupEnd = clock_.Counter();
            const double groupDelay = ElapsedMs(groupStart, groupEnd, clock_.Frequency());
            CheckSlowCall(logSink_, kSenderGroupSite, groupDelay);
            statistics_.ConsumeReset();
            if (groupDelay > statistics.maxSendGroupDelay) {
                statistics.maxSendGroupDelay = groupDelay;
            }
            ++statistics.groupsSent;
            if (!fixedPace) {
                // A pause after each group, not a fixed rate: a late group is never made up for.
                SleepPeriod(periodMs);
            }
        }
        // Read before the reset is looked for: a reset counted after this read may come
        // after the record was taken, and its own text must then win.
        const uint64_t generation = resetGeneration_.load();
        // A reset that came during the pause is carried out before the duration is set, so
        // that the period's record never shows a duration of 0.
        statistics_.ConsumeReset();
        // Unsigned difference: correct across one wrap of the tick count.
        statistics.duration = static_cast<double>(TickCountMs() - startTick) / 1000.0;
        statistics_.Publish();
        if (!senderStopFlag_.load()) {
            observer_.DisplaySenderStatistics(statistics, context.packetSize, generation);
        }
        ++groupNumber;
    }
    return end;
}

// Sent as it is when the socket's buffer is full: the far end then ends the session by its
// time-out instead, and nothing else depends on it.
void Sender::SendEndOfRun(SendContext& context, EndOfRun end) {
    const uint32_t trailer = context.finisher != nullptr ? context.finisher->TrailerSize() : 0;
    std::vector<uint8_t> datagram(kEndOfRunSize + trailer);
    end.sendCounter = clock_.Counter();
    WriteEndOfRun(datagram.data(), end);
    if (context.finisher != nullptr) {
        context.finisher->Finish(datagram.data(), static_cast<uint32_t>(datagram.size()));
    }
    for (int copy = 0; copy < kEndOfRunCopies; ++copy) {
        // Apart, so that the copies do not share the fate of a queue the last group filled.
        if (copy != 0) {
            SleepMs(kEndOfRunCopySpacingMs);
        }
        context.socket.SendTo(datagram.data(), static_cast<uint32_t>(datagram.size()), context.destination);
    }
}

void Sender::WaitForGroupTime(int64_t due, SenderStatistics& statistics) {
    const int64_t now = QueryCounter();
    if (now > due) {
        // Due before the sender was ready for it: it leaves at once, and the groups after it
        // keep their times.
        statistics_.ConsumeReset();
        ++statistics.lateGroups;
        const double lateness = ElapsedMs(due, now, QueryCounterFrequency());
        if (lateness > statistics.maxLatenessMs) {
            statistics.maxLatenessMs = lateness;
        }
        return;
    }
    SleepUntil(due);
}

void Sender::SleepUntil(int64_t due) {
    const int64_t slice = kSleepSliceMs * QueryCounterFrequency() / 1000;
    for (int64_t wake = std::min(due, QueryCounter() + slice); !senderStopFlag_.load();
         wake = std::min(due, wake + slice)) {
        SleepUntilCounter(wake);
        if (wake == due) {
            return;
        }
    }
}

int32_t Sender::SendGroup(SendContext& context,
                          int32_t packetsPerPeriod,
                          int64_t groupNumber,
                          int64_t groupDue,
                          int64_t spreadSpan) {
    // A reset requested by the GUI thread is carried out here, between packets, so that it
    // never meets a half-made update. A stop is seen here too: a group may take days.
    for (int32_t index = 0; index < packetsPerPeriod; ++index) {
        if (spreadSpan != 0 && index != 0) {
            // In two parts, so that no product overflows however long the period; a packet
            // already due leaves at once.
            SleepUntil(groupDue + spreadSpan / packetsPerPeriod * index +
                       spreadSpan % packetsPerPeriod * index / packetsPerPeriod);
        }
        if (senderStopFlag_.load()) {
            return index;
        }
        statistics_.ConsumeReset();
        SendPacket(context, index, groupNumber);
    }
    return packetsPerPeriod;
}

void Sender::SleepPeriod(uint32_t periodMs) {
    if (periodMs <= kSleepSliceMs) {
        SleepMs(periodMs);
        return;
    }
    // A long period would keep the stopping GUI thread waiting for all of it. The slices
    // are measured against the counter, so that the rounding of each sleep does not add up.
    const int64_t start = QueryCounter();
    while (!senderStopFlag_.load()) {
        const double remaining = periodMs - ElapsedMs(start, QueryCounter(), QueryCounterFrequency());
        if (remaining <= 0) {
            return;
        }
        SleepMs(remaining < kSleepSliceMs ? static_cast<uint32_t>(std::ceil(remaining)) : kSleepSliceMs);
    }
}
