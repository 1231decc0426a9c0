#pragma once
// The receiving engine: a worker thread that receives test packets on a local endpoint,
// counts them and analyses the first packet of each group.

#include <atomic>
#include <cstdint>

#include "base/clock.h"
#include "base/udp_socket.h"
#include "measure/default_settings.h"
#include "measure/receiver_statistics.h"
#include "measure/shared_statistics.h"
#include "measure/worker_observer.h"
#include "measure/worker_thread.h"

class DatagramSink;
class LogSink;

// The receiver's settings, read by the front end and handed over at start.
struct ReceiverSettings {
    // Port 0: the system picks one (see LocalPort).
    Endpoint local = Endpoint::Ipv4(DefaultSettings::kReceiverAddress, DefaultSettings::kReceiverPort);
    uint32_t packetSize = DefaultSettings::kPacketSize;  // receive buffer size, raised to 32
    bool dualStack = false;                              // an IPv6 `local` takes IPv4 datagrams too
    bool readTrafficClass = false;                       // count the DSCP and ECN values datagrams arrive with
    // Analyse the test packets of the sender followed (the dialog); off, the record only
    // counts bytes, marks and truncations, for a DatagramSink that analyses every sender.
    bool followSender = true;
};

// The size of the receive buffer: the packet size setting (raised to 32), but no more than
// the largest datagram the local endpoint's family carries.
uint32_t ReceiveBufferSize(const ReceiverSettings& settings);

// The receive loop's accounting of one received datagram (negative length and not truncated:
// a failed receive, which counts nothing): carries out a pending reset, counts the bytes and
// the datagram's TOS / traffic class byte, analyses the first packet of a group of the
// followed sender's test packets at the datagram's arrival, counts every other datagram as
// ignored (both only when `followSender`) and publishes the changes. A datagram longer than
// the receive buffer only counts as truncated. `clock` tells the arrival's frequency and times
// the analysis for `logSink`.
void AccountReceivedDatagram(SharedStatistics<ReceiverStatistics>& statistics,
                             const ReceivedDatagram& datagram,
                             Clock& clock,
                             LogSink* logSink,
                             bool followSender = true);

// Owns the receiver thread, its socket, its stop flag and its statistics.
class Receiver {
  public:
    // `sink`, when given, takes every datagram read on the receiving thread after the
    // receiver's own accounting; it must outlive the receiver's thread.
    explicit Receiver(WorkerObserver& observer,
                      LogSink* logSink = nullptr,
                      Clock& clock = SystemClock(),
                      DatagramSink* sink = nullptr);
    ~Receiver();  // stops a running receiver and joins its thread
    Receiver(const Receiver&) = delete;
    Receiver& operator=(const Receiver&) = delete;

    // Starts the thread (the statistics carry over); throws "thread already started" while one
    // runs and "CreateThread failed" when the thread cannot be created (nothing runs then).
    void Start(const ReceiverSettings& settings);

    // Asks the thread to stop, waits up to `graceMs` (a datagram may end the receive), then
    // closes its socket to release the blocked receive and waits up to
    // WorkerThread::StopBoundMs() more. Throws "thread did not stop" when it has not ended
    // by then (it still runs, see Running), and "thread was not started" when none runs.
    void Stop(uint32_t graceMs = 1000);

    bool Running() const { return thread_.Running(); }

    // Zeroes the statistics: at once for readers, and in the thread before its next datagram.
    void ResetStatistics();

    // A copy of one publish of the statistics (the thread that resets, or any other while
    // nobody resets).
    ReceiverStatistics Statistics() const { return statistics_.Snapshot(); }

    // The published histogram, kHistogramBins values that each publish of an analysed packet
    // rewrites; read each with LoadShared.
    const double* PublishedHistogram() const { return statistics_.Published().jitterHistogram; }

    // The port the current run's socket is bound to; 0 before it is bound.
    uint16_t LocalPort() const { return localPort_.load(); }

    // Whether the current run's socket tells the DSCP and ECN values (set once it is bound).
    bool ReadsTrafficClass() const { return readsTrafficClass_.load(); }

  private:
    void ReceiverThreadProc(const ReceiverSettings& settings);
    void ReceiverThreadEntry(const ReceiverSettings& settings);
    void ReceivePacket(SocketHandle socket, uint8_t* buffer, uint32_t bufferSize, bool followSender);
    void CloseReceiverSocket();

    WorkerObserver& observer_;
    LogSink* logSink_;
    Clock& clock_;
    DatagramSink* sink_;
    std::atomic<bool> receiverStopFlag_{false};
    std::atomic<SocketHandle> receiverSocket_{kNoSocket};
    std::atomic<uint16_t> localPort_{0};
    std::atomic<bool> readsTrafficClass_{false};
    SharedStatistics<ReceiverStatistics> statistics_;
    WorkerThread thread_;  // last: joined before the members above go away
};
