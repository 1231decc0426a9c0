#include "measure/receiver.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "base/clock.h"
#include "base/datagram_batch.h"
#include "base/errors.h"
#include "base/socket_library.h"
#include "measure/datagram_sink.h"
#include "measure/engine_errors.h"
#include "measure/packet_check.h"
#include "measure/receiver_analysis.h"
#include "measure/test_packet.h"
#include "measure/watchdog.h"

namespace {

// What a datagram is to the followed sender's run; the first source whose test packets
// confirm a run after a reset is chosen. Another sender's datagrams are never looked into, so
// that they cannot change the run's state. `notTestPackets` grows by the datagrams found to be
// none (held packets of a candidate run dropped included).
ClassifiedDatagram ClassifyForFollowedSender(FollowedSender& follow,
                                             const ReceivedDatagram& datagram,
                                             int64_t arrivalFrequency,
                                             int64_t& notTestPackets) {
    if (follow.chosen) {
        if (datagram.source != follow.source) {
            ++notTestPackets;
            return ClassifiedDatagram{};
        }
        const ClassifiedDatagram classified = follow.check.Classify(datagram, arrivalFrequency);
        notTestPackets += follow.check.TakeDroppedPackets() + (classified.kind == DatagramKind::NotTestPacket ? 1 : 0);
        return classified;
    }
    auto* const begin = follow.candidates.data();
    auto* const end = begin + follow.candidateCount;
    auto* candidate = std::find_if(begin, end, [&](const auto& c) { return c.source == datagram.source; });
    if (candidate == end) {
        if (follow.candidateCount < follow.candidates.size()) {
            ++follow.candidateCount;
        } else {
            // The source heard from least recently makes room.
            candidate = std::min_element(begin, end, [](const auto& a, const auto& b) {
                return CounterDifference(a.lastArrival, b.lastArrival) < 0;
            });
            notTestPackets += candidate->check.HeldPackets();
        }
        *candidate = FollowedSender::Candidate{datagram.source, PacketCheck(), datagram.arrival};
    }
    candidate->lastArrival = datagram.arrival;
    const ClassifiedDatagram classified = candidate->check.Classify(datagram, arrivalFrequency);
    notTestPackets += candidate->check.TakeDroppedPackets() + (classified.kind == DatagramKind::NotTestPacket ? 1 : 0);
    if (classified.kind == DatagramKind::NewRun) {
        follow.chosen = true;
        follow.source = datagram.source;
        follow.check = candidate->check;
        for (auto* other = begin; other != end; ++other) {
            notTestPackets += other != candidate ? other->check.HeldPackets() : 0;
        }
        follow.candidateCount = 0;
    }
    return classified;
}

void AccountTruncatedDatagram(SharedStatistics<ReceiverStatistics>& statistics, int64_t fullLength) {
    statistics.ConsumeReset();
    ReceiverStatistics& working = statistics.Working();
    ++working.truncatedCount;
    if (fullLength > working.largestTruncatedLength) {
        working.largestTruncatedLength = fullLength;
    }
    statistics.Publish(false);
    statistics.ConsumeReset();
}

// The analysis of one first packet, timed for the watchdog only when there is a log to tell.
void Analyse(ReceiverStatistics& working,
             const TestPacketHeader& header,
             int64_t arrival,
             Clock& clock,
             LogSink* logSink) {
    if (logSink == nullptr) {
        AnalyzeReceivedPacket(working, header, arrival, clock.Frequency());
        return;
    }
    const int64_t start = clock.Counter();
    AnalyzeReceivedPacket(working, header, arrival, clock.Frequency());
    CheckSlowCall(logSink, kAnalyzePacketSite, ElapsedMs(start, clock.Counter(), clock.Frequency()));
}

}  // namespace

uint32_t BatchCapacity(uint32_t datagramSize) {
    return std::clamp<uint32_t>(kBatchBufferBytes / std::max<uint32_t>(datagramSize, 1), 1, kMostBatched);
}

uint32_t ReceiveBufferSize(const ReceiverSettings& settings) {
    return std::min(EffectivePacketSize(settings.packetSize), settings.local.MaxDatagramPayload());
}

void AccountReceivedDatagram(SharedStatistics<ReceiverStatistics>& statistics,
                             const ReceivedDatagram& datagram,
                             Clock& clock,
                             LogSink* logSink,
                             bool followSender) {
    if (datagram.truncated) {
        AccountTruncatedDatagram(statistics, datagram.fullLength);
        return;
    }
    if (datagram.length < 0) {
        return;
    }
    // A reset is carried out before and after each datagram, never in the middle: the
    // records end as after a reset just before or just after it, never a mix of both.
    if (followSender) {
        statistics.ConsumeReset();
    } else {
        statistics.ConsumeRequestedReset();
    }
    ReceiverStatistics& working = statistics.Working();
    working.bytesReceived += datagram.length;
    CountTrafficClass(working, datagram.length, datagram.trafficClass);
    if (!followSender) {
        // A few counts changed: publishing the whole record would cost a hundred stores. A
        // reset asked for meanwhile waits for the next datagram: only the dialog asks for
        // one, and its receiver follows a sender.
        statistics.PublishCounts([&](ReceiverStatistics& to, const ReceiverStatistics& from) {
            StoreSharedCounts(to, from, datagram.trafficClass);
        });
        return;
    }
    const ClassifiedDatagram classified =
        ClassifyForFollowedSender(working.follow, datagram, clock.Frequency(), working.ignoredCount);
    if (classified.kind == DatagramKind::NewRun) {
        // The packets that confirmed the run, each as on its arrival.
        EndRun(working);
        for (const HeldPacket& held : working.follow.check.ConfirmedPackets()) {
            if (held.header.indexInGroup == 0) {
                Analyse(working, held.header, held.arrival, clock, logSink);
            }
        }
    } else if (classified.Analysed()) {
        Analyse(working, classified.header, datagram.arrival, clock, logSink);
    } else if (classified.kind == DatagramKind::CopyOfFirst) {
        ++working.duplicateCount;
    }
    // Only an analysed packet changes the histogram, so only then is it published too.
    statistics.Publish(classified.Analysed() || classified.kind == DatagramKind::NewRun);
    statistics.ConsumeReset();
}

Receiver::Receiver(WorkerObserver& observer, LogSink* logSink, Clock& clock, DatagramSink* sink)
    : observer_(observer), logSink_(logSink), clock_(clock), sink_(sink) {}

Receiver::~Receiver() {
    if (Running()) {
        try {
            Stop();
        } catch (Exception* e) {
            // The thread ended by itself after the test: its not-started error is owned here.
            DestroyException(e);
        } catch (...) {
        }
    }
    thread_.Join();
    CloseReceiverSocket();  // left to a worker that outlived its stop
}

void Receiver::Start(const ReceiverSettings& settings) {
    if (Running()) {
        ThrowEngineError(EngineError::ReceiverAlreadyStarted);
    }
    CloseReceiverSocket();  // left to a worker that outlived its stop, and has ended since
    receiverStopFlag_.store(false);
    localPort_.store(0);
    kernelTimestamps_.store(false);
    grantedReceiveBuffer_.store(0);
    hostDrops_.store(0);
    // The settings travel with the thread: it never has to ask the GUI thread for them.
    if (!thread_.Start([this, settings] { ReceiverThreadProc(settings); })) {
        ThrowEngineError(EngineError::ReceiverThreadNotCreated);
    }
}

void Receiver::Stop(uint32_t graceMs) {
    if (!Running()) {
        ThrowEngineError(EngineError::ReceiverNotStarted);
    }
    receiverStopFlag_.store(true);
    if (thread_.WaitFor(graceMs)) {
        return;
    }
    // No datagram came to end the blocked receive: closing the socket ends it.
    SocketLibrary library;  // keeps the library alive for the close, whatever the thread does
    // Whoever takes the socket from the member closes it: here, or the thread on its way out.
    // No socket yet: the thread is still setting up and sees the flag before its first receive.
    const SocketHandle socket = receiverSocket_.exchange(kNoSocket);
    const bool closed = socket == kNoSocket || UdpSocket::InterruptReceive(socket);
    const bool ended = thread_.WaitForStop();
    if (!closed) {
        if (ended) {
            UdpSocket::CloseHandle(socket);
        } else {
            // The thread may still be inside the receive: it closes the socket on its way out
            // (or the next Start or the destructor does, once it has ended).
            receiverSocket_.store(socket);
        }
    }
    if (!ended) {
        ThrowEngineError(EngineError::ReceiverDidNotStop);
    }
}

void Receiver::ResetStatistics() {
    statistics_.Reset(Running());
}

void Receiver::ReceiverThreadProc(const ReceiverSettings& settings) {
    RunWorkerBody(observer_, kReceiverUnknownErrorText, [&] { ReceiverThreadEntry(settings); });
}

void Receiver::CloseReceiverSocket() {
    // The stop path may race us to the socket: whoever takes it from the member closes it.
    const SocketHandle socket = receiverSocket_.exchange(kNoSocket);
    if (socket != kNoSocket) {
        UdpSocket::CloseHandle(socket);
    }
}

void Receiver::ReceiverThreadEntry(const ReceiverSettings& settings) {
    LogEvent(logSink_, "receiver thread started");
    const SocketLibrary library;
    UdpSocket socket = OpenWorkerSocket(library, settings.local, EngineError::ReceiverLibraryNotStarted,
                                        EngineError::ReceiverSocketNotOpened);
    if (settings.dualStack && settings.local.IsIpv6() && !socket.SetIpv6Only(false)) {
        ThrowEngineError(EngineError::ReceiverNotBound, settings.local.ToString() + " for IPv4 too (IPV6_V6ONLY): " +
                                                            SocketErrorText(socket.LastError()));
    }
    // Where the system cannot tell the values, the counts stay empty and the run says so.
    readsTrafficClass_.store(settings.readTrafficClass && socket.EnableTrafficClassReceipt(settings.local));
    if (settings.socketReceiveBuffer > 0) {
        // Refused, the system's own size stays, and the run tells none.
        grantedReceiveBuffer_.store(socket.SetReceiveBufferSize(settings.socketReceiveBuffer).value_or(0));
    }
    if (settings.batched) {
        // Without them the arrival is the clock read after the receive, and drops go untold.
        kernelTimestamps_.store(socket.EnableKernelStamps());
        socket.EnableDropCount();
    }
    if (!socket.Bind(settings.local)) {
        ThrowEngineError(EngineError::ReceiverNotBound, BindFailure(settings.local, socket.LastError()));
    }
    if (const auto bound = socket.LocalEndpoint()) {
        localPort_.store(bound->Port());
    }
    const uint32_t bufferSize = ReceiveBufferSize(settings);
    std::vector<uint8_t> buffer(settings.batched ? 0 : bufferSize);
    std::unique_ptr<DatagramBatch> batch;
    if (settings.batched) {
        batch = std::make_unique<DatagramBatch>(BatchCapacity(bufferSize), bufferSize);
    }

    receiverSocket_.store(socket.Release());
    struct CloseOnExit {
        Receiver& receiver;
        ~CloseOnExit() { receiver.CloseReceiverSocket(); }
    } closeOnExit{*this};

    // The flag is tested before every receive; a receive under way is ended by a datagram
    // or by the stop path closing the socket.
    SocketHandle last = kNoSocket;
    while (!receiverStopFlag_.load()) {
        const SocketHandle current = receiverSocket_.load();
        if (current == kNoSocket) {
            break;
        }
        last = current;
        if (batch) {
            ReceiveBatch(current, *batch, settings.followSender);
        } else {
            ReceivePacket(current, buffer.data(), bufferSize, settings.followSender);
        }
    }
    if (batch && last != kNoSocket) {
        // Drops after the last datagram come with none: read them now. The socket is only
        // shut down here at worst (POSIX closes it once this thread ends; Windows tells none).
        batch->RefreshDrops(last);
        hostDrops_.store(batch->HostDrops());
    }
    batch.reset();
    buffer = std::vector<uint8_t>();
    CloseReceiverSocket();
    LogEvent(logSink_, "receiver thread stopped");
}

void Receiver::ReceivePacket(SocketHandle socket, uint8_t* buffer, uint32_t bufferSize, bool followSender) {
    // A plain blocking receive, clock read at once after it: a receive with a time-out
    // returns late on some systems and would spoil the arrival time.
    const int64_t start = clock_.Counter();
    ReceivedDatagram received = UdpSocket::ReceiveOn(socket, buffer, bufferSize);
    received.arrival = clock_.Counter();
    CheckSlowCall(logSink_, kReceivePacketSite, ElapsedMs(start, received.arrival, clock_.Frequency()));
    Account(received, followSender);
}

void Receiver::ReceiveBatch(SocketHandle socket, DatagramBatch& batch, bool followSender) {
    const int64_t start = clock_.Counter();
    const size_t count = batch.Receive(socket);
    const int64_t end = clock_.Counter();
    CheckSlowCall(logSink_, kReceivePacketSite, ElapsedMs(start, end, clock_.Frequency()));
    for (size_t i = 0; i < count; ++i) {
        ReceivedDatagram received = batch[i].received;
        // The kernel's stamp is when the datagram came in; the clock read after the receive
        // adds the time it queued and the time this thread took to run.
        received.arrival =
            batch[i].kernelArrival != kNoKernelStamp ? clock_.FromSystemCounter(batch[i].kernelArrival) : end;
        Account(received, followSender);
    }
    hostDrops_.store(batch.HostDrops());
}

void Receiver::Account(const ReceivedDatagram& received, bool followSender) {
    AccountReceivedDatagram(statistics_, received, clock_, logSink_, followSender);
    if (sink_ != nullptr && (received.length >= 0 || received.truncated)) {
        sink_->TakeDatagram(received);
    }
}
