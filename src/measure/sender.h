#pragma once
// The sending engine: a worker thread that sends one group of test packets per period to
// a destination and keeps the sender statistics.

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "base/clock.h"
#include "base/udp_socket.h"
#include "measure/default_settings.h"
#include "measure/end_of_run.h"
#include "measure/packet_finisher.h"
#include "measure/sender_statistics.h"
#include "measure/shared_statistics.h"
#include "measure/worker_observer.h"
#include "measure/worker_thread.h"

class LogSink;

// The sender's settings, read by the front end and handed over at start.
struct SenderSettings {
    // Socket send buffer in KB; 0 keeps the system's size.
    uint32_t bufferSizeKB = DefaultSettings::kSenderBufferSizeKB;
    Endpoint destination = Endpoint::Ipv4(DefaultSettings::kDestinationAddress, DefaultSettings::kDestinationPort);
    uint32_t packetSize = DefaultSettings::kPacketSize;  // raised to 32 by the engine
    uint32_t periodMs = DefaultSettings::kPeriodMs;      // pause after each group, or the fixed schedule's step
    int32_t packetsPerPeriod = DefaultSettings::kPacketsPerPeriod;
    uint16_t sourcePort = 0;  // local port to send from; 0 lets the system choose
    // The local address (with sourcePort) to send from on a host of several; none: any.
    std::optional<Endpoint> sourceAddress;
    int trafficClass = -1;  // TOS / traffic class byte to mark packets with; -1: unmarked
    // Group k leaves at start + k * periodMs, as a voice stream does, instead of a pause of
    // periodMs after each group. A late group leaves at once; the schedule never shifts.
    bool fixedPace = false;
    // With the fixed pace: packet i of a group leaves i * periodMs / packetsPerPeriod after the
    // group's time, as that many concurrent calls each send on their own clock, instead of all
    // of them back to back.
    bool spreadOverPeriod = false;
    // When the run is stopped (not when it fails): sends the end-of-run datagram, so that a far
    // end that knows it closes the session at once.
    bool announceEnd = false;
    // The name written into every packet's filler (measure/sender_name_block.h); empty: none.
    std::string name;
    // Finishes each packet before it is sent (on the sender's thread only); none: sent as written.
    std::shared_ptr<PacketFinisher> finisher;
    // A socket the caller opened and bound, to send from instead of one of the sender's own (a
    // round trip takes its echoes on it); the caller keeps it open until the sender has ended.
    // The sender neither binds nor closes it. kNoSocket: the sender opens its own.
    SocketHandle sharedSocket = kNoSocket;
};

// The address a sender of these settings sends from: its source address, or any of the
// destination's family, with its source port (0: the system's choice).
Endpoint SenderLocalEndpoint(const SenderSettings& settings);

// What SendPacket works on during one run.
struct SendContext {
    UdpSocket& socket;
    const Endpoint& destination;
    uint8_t* packet;  // the run's packet buffer of packetSize bytes
    uint32_t packetSize;
    SenderStatistics& statistics;
    Clock& clock;
    LogSink* logSink;
    PacketFinisher* finisher = nullptr;  // applied after the header is written
};

// Writes the header of one packet, sends it, times the send and folds the outcome into the
// statistics. Throws the "WSASendTo failed" error when the send fails other than by a full buffer.
void SendPacket(SendContext& context, int32_t indexInGroup, int64_t groupNumber);

// Owns the sender thread, its stop flag and its statistics.
class Sender {
  public:
    explicit Sender(SenderObserver& observer, LogSink* logSink = nullptr, Clock& clock = SystemClock());
    ~Sender();  // stops a running sender and joins its thread
    Sender(const Sender&) = delete;
    Sender& operator=(const Sender&) = delete;

    // Clears the statistics and starts the thread; throws "thread already started" while one
    // runs and "CreateThread failed" when the thread cannot be created (nothing runs then).
    void Start(const SenderSettings& settings);

    // Asks the thread to stop and waits up to WorkerThread::StopBoundMs() for it; throws
    // "thread did not stop" when it has not ended by then (it still runs, see Running), and
    // "thread was not started" when none runs (also after it ended by an error).
    void Stop();

    bool Running() const { return thread_.Running(); }

    // True from construction and from each Stop until the next Start; a run that ended by an
    // error has not been asked to stop.
    bool StopRequested() const { return senderStopFlag_.load(); }

    // While running: the thread clears its statistics before its next packet, and
    // Statistics() reads zeros at once. While stopped: clears them now. Either way the reset
    // generation goes up by one.
    void ResetStatistics();

    // The number of resets so far.
    uint64_t ResetGeneration() const { return resetGeneration_.load(); }

    // The statistics as last published (once per period, when a stop cuts a group short, and
    // at the end of the run).
    SenderStatistics Statistics() const { return statistics_.Snapshot(); }

    // The packet size of the current or last run (at least 32), 0 before the first run.
    uint32_t PacketSize() const { return packetSize_.load(); }

  private:
    void SenderThreadProc(const SenderSettings& settings);
    void SenderThreadEntry(const SenderSettings& settings);
    // Returns the end of the run as the end-of-run datagram tells it.
    EndOfRun RunPacingLoop(SendContext& context, const SenderSettings& settings);
    // Sends one group; returns how many of its packets were sent: fewer when a stop cut it
    // short. Packet i waits for groupDue + i * spreadSpan / packetsPerPeriod first; a span of 0
    // waits for none.
    int32_t SendGroup(SendContext& context,
                      int32_t packetsPerPeriod,
                      int64_t groupNumber,
                      int64_t groupDue = 0,
                      int64_t spreadSpan = 0);
    void SendEndOfRun(SendContext& context, EndOfRun end);
    void SleepPeriod(uint32_t periodMs);
    void WaitForGroupTime(int64_t due, SenderStatistics& statistics);
    // Sleeps until the counter reaches `due`, in slices so that a stop is seen within one.
    void SleepUntil(int64_t due);
    void PublishFinalStatistics();

    SenderObserver& observer_;
    LogSink* logSink_;
    Clock& clock_;
    std::atomic<bool> senderStopFlag_{true};
    std::atomic<uint32_t> packetSize_{0};
    std::atomic<uint64_t> resetGeneration_{0};
    SharedStatistics<SenderStatistics> statistics_;
    WorkerThread thread_;  // last: joined before the members above go away
};
