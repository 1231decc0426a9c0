// The real sender and receiver engines on the loopback interface.

#include <gtest/gtest.h>

#include <cmath>
#include <numeric>
#include <system_error>

#include "base/socket_library.h"
#include "base/udp_socket.h"
#include "measure/datagram_sink.h"
#include "measure/receiver.h"
#include "measure/sender.h"
#include "measure_test_support.h"

namespace {

constexpr uint32_t kLoopback = 0x7F000001;

// A receiving engine bound to a port of the system's choice on 127.0.0.1.
uint16_t StartReceiver(Receiver& receiver, uint32_t packetSize = 192) {
    ReceiverSettings settings;
    settings.local = Endpoint::Ipv4(kLoopback, 0);
    settings.packetSize = packetSize;
    receiver.Start(settings);
    EXPECT_TRUE(WaitUntil([&] { return receiver.LocalPort() != 0; }));
    return receiver.LocalPort();
}

// A plain socket bound on 127.0.0.1, to see what the sender puts on the wire.
struct Listener {
    Listener() {
        EXPECT_TRUE(socket.Bind(Endpoint::Ipv4(kLoopback, 0)));
        endpoint = *socket.LocalEndpoint();
    }
    std::vector<uint8_t> Next() {
        std::vector<uint8_t> data(70000);
        const int64_t length = socket.ReceiveFrom(data.data(), static_cast<uint32_t>(data.size()), lastSource);
        data.resize(length < 0 ? 0 : static_cast<size_t>(length));
        return data;
    }
    SocketLibrary library;
    UdpSocket socket = UdpSocket::Open(Endpoint());
    Endpoint endpoint;
    Endpoint lastSource;  // where the datagram Next returned came from
};

TEST(Loopback, DefaultSettingsMeasureACleanPath) {
    RecordingObserver observer;
    Receiver receiver(observer);
    const uint16_t port = StartReceiver(receiver);
    Sender sender(observer);
    SenderSettings settings;  // 100 packets of 192 bytes every 10 ms
    settings.destination = Endpoint::Ipv4(kLoopback, port);
#ifdef _WIN32
    // Under Wine a send or a receive costs ~75 us, so the default load would overrun the
    // receiver's socket buffer: lighten it, the behaviour checked stays the same.
    settings.packetsPerPeriod = 10;
#endif
    sender.Start(settings);
    std::this_thread::sleep_for(std::chrono::seconds(3));
    sender.Stop();
    WaitForQuiet(receiver);
    receiver.Stop();

    EXPECT_TRUE(observer.Errors().empty());
    EXPECT_GT(observer.Displays(), 10);
    EXPECT_EQ(observer.LastPacketSize(), 192u);
    const SenderStatistics sent = sender.Statistics();
    const ReceiverStatistics received = receiver.Statistics();
    ASSERT_GT(sent.sentPackets, 10 * settings.packetsPerPeriod);
    EXPECT_EQ(sent.wouldBlockCount, 0);
    EXPECT_GT(sent.duration, 2.5);
    EXPECT_EQ(received.bytesReceived, sent.sentPackets * 192);
    // The stop may have cut the last group short: its first packet still went out.
    const int64_t groups = (sent.sentPackets + settings.packetsPerPeriod - 1) / settings.packetsPerPeriod;
    EXPECT_EQ(received.firstGroupNumber, 0);
    EXPECT_EQ(received.lastGroupNumber, groups - 1);
    EXPECT_EQ(received.analysedCount, groups);
    EXPECT_NE(ReceiverStatisticsText(received).find("lost packets: 0.%"), std::string::npos);
    EXPECT_EQ(received.outOfOrderCount + received.duplicateCount, 0);
    // Loopback transit is steady: most of the recent jitter lies within +-5 ms of zero.
    const double* bins = received.jitterHistogram;
    const double nearZero = std::accumulate(bins + 175, bins + 225, 0.0);
    EXPECT_GT(nearZero, 0.8 * std::accumulate(bins, bins + kHistogramBins, 0.0));
    EXPECT_LT(std::sqrt(received.jitterMeanSquare), 5.0);
}

TEST(Loopback, SenderPutsZeroedFillerCountedHeadersAndTheGroupSizeOnTheWire) {
    RecordingObserver observer;
    Sender sender(observer);
    SenderSettings settings;
    settings.packetSize = 100;
    settings.packetsPerPeriod = 2;
    for (int run = 0; run < 2; ++run) {  // group numbers restart with each run
        Listener listener;
        settings.destination = listener.endpoint;
        sender.Start(settings);
        for (int64_t group = 0; group < 2; ++group) {
            for (int32_t index = 0; index < 2; ++index) {
                const std::vector<uint8_t> packet = listener.Next();
                ASSERT_EQ(packet.size(), 100u);
                const TestPacketHeader header = ReadPacketHeader(packet.data());
                EXPECT_EQ(header.indexInGroup, index);
                EXPECT_EQ(header.groupNumber, group);
                EXPECT_EQ(header.counterFrequency, QueryCounterFrequency());
                EXPECT_EQ(ReadGroupSize(packet.data()), 2);
                EXPECT_EQ(std::vector<uint8_t>(packet.begin() + 32, packet.end()), std::vector<uint8_t>(68, 0));
            }
        }
        sender.Stop();
    }
    Listener listener;
    settings.packetSize = 7;  // below the header: header-only datagrams
    settings.destination = listener.endpoint;
    sender.Start(settings);
    EXPECT_EQ(listener.Next().size(), 32u);
    sender.Stop();
    EXPECT_EQ(sender.PacketSize(), 32u);
}

TEST(Loopback, StartAndStopErrors) {
    RecordingObserver observer;
    Sender sender(observer);
    Receiver receiver(observer);
    EXPECT_EQ(ThrownText([&] { sender.Stop(); }),
              "error in MainWindow::StopSenderThread: thread was not started\r\nfile: winmain\r\nline: 245");
    EXPECT_EQ(ThrownText([&] { receiver.Stop(); }),
              "error in MainWindow::StopReceiverThread: thread was not started\r\nfile: winmain\r\nline: 445");
    Listener listener;
    SenderSettings settings;
    settings.destination = listener.endpoint;
    settings.periodMs = 1;
    sender.Start(settings);
    EXPECT_EQ(ThrownText([&] { sender.Start(settings); }),
              "error in MainWindow::StartSenderThread: thread already started\r\nfile: winmain\r\nline: 237");
    StartReceiver(receiver);
    EXPECT_EQ(ThrownText([&] { receiver.Start(ReceiverSettings()); }),
              "error in MainWindow::StartReceiverThread: thread already started\r\nfile: winmain\r\nline: 436");
    EXPECT_TRUE(sender.Running());
    sender.Stop();
    receiver.Stop();
    EXPECT_FALSE(receiver.Running());
    EXPECT_TRUE(observer.Errors().empty());
}

TEST(Loopback, ReceiverBindFailureIsReportedAndEndsTheThread) {
    Listener holder;  // holds the port
    RecordingObserver observer;
    RecordingSink sink;
    Receiver receiver(observer, &sink);
    ReceiverSettings settings;
    settings.local = holder.endpoint;
    receiver.Start(settings);
    ASSERT_TRUE(WaitUntil([&] { return !receiver.Running(); }));
    EXPECT_EQ(observer.Errors(),
              std::vector<std::string>{
                  "error in MainWindow::ReceiverThreadEntry: bind failed\r\nfile: winmain\r\nline: 530"});
    EXPECT_EQ(sink.Events(), std::vector<std::string>{"receiver thread started"});  // no "stopped"
    EXPECT_NE(ThrownText([&] { receiver.Stop(); }), "");
}

// Runs a sender to a listener until it ends by itself, and returns the errors it reported
// followed by the events it logged.
// The errors and log events of a sender run that ends by an error; `reasons` takes the
// system's reasons beside the errors.
std::vector<std::string> RunSenderToItsEnd(uint32_t packetSize,
                                           uint32_t bufferSizeKB,
                                           std::vector<std::string>* reasons = nullptr) {
    Listener listener;
    RecordingObserver observer;
    RecordingSink sink;
    Sender sender(observer, &sink);
    SenderSettings settings;
    settings.bufferSizeKB = bufferSizeKB;
    settings.destination = listener.endpoint;
    settings.packetSize = packetSize;
    sender.Start(settings);
    EXPECT_TRUE(WaitUntil([&] { return !sender.Running(); }));
    EXPECT_EQ(sender.Statistics().sentPackets, 0);
    if (reasons != nullptr) {
        *reasons = observer.Reasons();
        for (std::string& reason : *reasons) {
            // The listener's port changes from run to run.
            reason.replace(reason.find(listener.endpoint.ToString()), listener.endpoint.ToString().size(), "LISTENER");
        }
    }
    std::vector<std::string> reports = observer.Errors();
    for (const std::string& event : sink.Events()) {
        reports.push_back(event);
    }
    return reports;
}

TEST(Loopback, SendFailureEndsTheSenderAndKeepsItsStatistics) {
    // Larger than an IPv4 datagram carries; the largest is refused before 4 GB are allocated.
    for (const uint32_t size : {65508u, 70000u, 4294967295u}) {
        EXPECT_EQ(
            RunSenderToItsEnd(size, 256),
            (std::vector<std::string>{"error in MainWindow::SendPacket: WSASendTo failed\r\nfile: winmain\r\nline: 390",
                                      "sender thread started", "senderBufferSize = 262144 bytes"}))
            << size;
    }
    std::vector<std::string> reasons;
    RunSenderToItsEnd(65508, 0, &reasons);
    EXPECT_EQ(reasons, std::vector<std::string>{"LISTENER: 65508 bytes are more than a datagram carries (65507)"});
}

TEST(Loopback, ASendBufferWhoseBytesDoNotFitTheSocketOptionIsRefused) {
    // 2097152 KB are 2^31 bytes; 4194304 KB wrapped to 0 and 4194305 KB to 1024 in 32 bits.
    for (const uint32_t kilobytes : {2097152u, 4194304u, 4194305u}) {
        EXPECT_EQ(RunSenderToItsEnd(192, kilobytes),
                  (std::vector<std::string>{"error in MainWindow::SenderThreadEntry: setsockopt(SO_SNDBUF)  "
                                            "failed\r\nfile: winmain\r\nline: 303",
                                            "sender thread started"}))
            << kilobytes;
    }
}

TEST(Loopback, AReceiverBufferIsNeverLargerThanTheLargestDatagram) {
    ReceiverSettings settings;
    settings.local = Endpoint::Ipv4(kLoopback, 0);
    settings.packetSize = 4294967295;
    EXPECT_EQ(ReceiveBufferSize(settings), 65507u);
    EXPECT_EQ(ReceiveBufferSize(ReceiverSettings{*Endpoint::Resolve("::", 0), 4294967295}), 65527u);
    EXPECT_EQ(ReceiveBufferSize(ReceiverSettings{settings.local, 1000}), 1000u);

    RecordingObserver observer;
    Receiver receiver(observer);
    const uint16_t port = StartReceiver(receiver, settings.packetSize);
    Listener sender;
    const std::vector<uint8_t> largest(65507);
    EXPECT_EQ(sender.socket.SendTo(largest.data(), 65507, Endpoint::Ipv4(kLoopback, port)), SendResult::Sent);
    EXPECT_TRUE(WaitUntil([&] { return receiver.Statistics().bytesReceived == 65507; }));
    receiver.Stop(0);
}

// The datagrams a receiver handed on: their lengths and source ports (an oversized one's
// length negated).
class RecordingDatagramSink : public DatagramSink {
  public:
    void TakeDatagram(const ReceivedDatagram& datagram) override {
        std::lock_guard<std::mutex> lock(mutex_);
        taken_.emplace_back(datagram.truncated ? -datagram.fullLength : datagram.length, datagram.source.Port());
    }
    std::vector<std::pair<int64_t, uint16_t>> Taken() {
        std::lock_guard<std::mutex> lock(mutex_);
        return taken_;
    }

  private:
    std::mutex mutex_;
    std::vector<std::pair<int64_t, uint16_t>> taken_;
};

TEST(Loopback, ReceiverStopsWithoutTrafficAndRestartsOnTheSamePort) {
    RecordingObserver observer;
    RecordingSink sink;
    RecordingDatagramSink datagrams;
    Receiver receiver(observer, &sink, SystemClock(), &datagrams);
    const uint16_t port = StartReceiver(receiver, 64);
    Listener sender;
    const Endpoint destination = Endpoint::Ipv4(kLoopback, port);
    const auto tooLong = MakePacket(0, 1, 0, 1000, 65);
    const auto fits = MakePacket(0, 1, 0, 1000, 64);
    EXPECT_EQ(sender.socket.SendTo(tooLong.data(), 65, destination), SendResult::Sent);
    EXPECT_EQ(sender.socket.SendTo(fits.data(), 64, destination), SendResult::Sent);
    ASSERT_TRUE(WaitUntil([&] { return receiver.Statistics().bytesReceived != 0; }));
    EXPECT_EQ(receiver.Statistics().bytesReceived, 64);  // the long one was dropped whole
    EXPECT_EQ(receiver.Statistics().analysedCount, 0);   // one packet confirms no run
    // Both go on after the receiver's own accounting, the long one with its source (its
    // length where the system tells it).
    const auto taken = datagrams.Taken();
    ASSERT_EQ(taken.size(), 2u);
    EXPECT_TRUE(taken[0].first == -65 || taken[0].first == 0);
    EXPECT_EQ(taken[0].second, sender.endpoint.Port());
    EXPECT_EQ(taken[1], (std::pair<int64_t, uint16_t>{64, sender.endpoint.Port()}));

    receiver.Stop();  // blocked in receive: the socket is closed to release it
    EXPECT_FALSE(receiver.Running());
    EXPECT_EQ(sink.Events(), (std::vector<std::string>{"receiver thread started", "receiver thread stopped"}));
    ReceiverSettings again;
    again.local = destination;
    receiver.Start(again);
    ASSERT_TRUE(WaitUntil([&] { return receiver.LocalPort() == port; }));
    EXPECT_EQ(receiver.Statistics().bytesReceived, 64);  // statistics carry over until a reset
    receiver.ResetStatistics();
    EXPECT_EQ(receiver.Statistics().bytesReceived, 0);
    receiver.Stop();
    EXPECT_TRUE(observer.Errors().empty());
}

TEST(Loopback, SenderWithNoPacketsStillPacesAndDisplays) {
    RecordingObserver observer;
    Sender sender(observer);
    SenderSettings settings;
    settings.packetsPerPeriod = 0;
    settings.periodMs = 1;
    sender.Start(settings);
    EXPECT_TRUE(WaitUntil([&] { return observer.Displays() >= 3; }));
    sender.Stop();
    const int displays = observer.Displays();
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(observer.Displays(), displays);  // nothing after the stop
    EXPECT_EQ(sender.Statistics().sentPackets, 0);
    EXPECT_GE(sender.Statistics().maxSendGroupDelay, 0.0);
}

TEST(Loopback, SenderSendsFromItsSourcePortOrReportsThatItIsTaken) {
    RecordingObserver observer;
    RecordingSink sink;
    Sender sender(observer, &sink);
    Listener listener;
    SenderSettings settings;
    settings.destination = listener.endpoint;
    settings.sourcePort = FreeUdpPort();
    sender.Start(settings);
    for (int packet = 0; packet < 3; ++packet) {
        ASSERT_FALSE(listener.Next().empty());
        EXPECT_EQ(listener.lastSource.ToString(), "127.0.0.1:" + std::to_string(settings.sourcePort));
    }
    sender.Stop();
    EXPECT_TRUE(observer.Errors().empty());

    UdpSocket holder = UdpSocket::Open(Endpoint());  // another program's socket on the port
    ASSERT_TRUE(holder.Bind(Endpoint::Ipv4(0, 0)));
    settings.sourcePort = holder.LocalEndpoint()->Port();
    sender.Start(settings);
    ASSERT_TRUE(WaitUntil([&] { return !sender.Running(); }));
    EXPECT_EQ(
        observer.Errors(),
        std::vector<std::string>{"error in MainWindow::SenderThreadEntry: bind failed\r\nfile: winmain\r\nline: 320"});
    EXPECT_EQ(sender.Statistics().sentPackets, 0);
}

TEST(Loopback, StopsThatNeedNotWaitForAPeriodOrAGrace) {
    // A sender asleep in a minute-long period and a receiver without traffic both end at once.
    RecordingObserver observer;
    Sender sender(observer);
    Listener listener;
    SenderSettings settings;
    settings.destination = listener.endpoint;
    settings.periodMs = 60000;
    settings.packetsPerPeriod = 2;
    sender.Start(settings);
    listener.Next();
    listener.Next();
    Receiver receiver(observer);
    StartReceiver(receiver);
    // Generous bounds: a sleep slice, a wake-up. Before, they took 60 s and 1 s.
    auto start = std::chrono::steady_clock::now();
    sender.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    start = std::chrono::steady_clock::now();
    receiver.Stop(0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));
    EXPECT_FALSE(sender.Running());
    EXPECT_FALSE(receiver.Running());
    EXPECT_EQ(observer.Displays(), 0);  // the period's display is skipped when stopping
    EXPECT_EQ(sender.Statistics().sentPackets, 2);
    EXPECT_TRUE(observer.Errors().empty());
}

TEST(Loopback, AThreadThatCannotBeCreatedIsAnErrorAndTheNextStartWorks) {
    RecordingObserver observer;
    Sender sender(observer);
    Receiver receiver(observer);
    Listener listener;
    SenderSettings settings;
    settings.destination = listener.endpoint;
    const WorkerThread::ThreadStarter standard =
        WorkerThread::SetThreadStarter([](std::function<void()>) -> std::thread {
            throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
        });
    EXPECT_EQ(ThrownText([&] { sender.Start(settings); }),
              "error in MainWindow::StartSenderThread: CreateThread failed\r\nfile: winmain\r\nline: 238");
    EXPECT_EQ(ThrownText([&] { receiver.Start(ReceiverSettings()); }),
              "error in MainWindow::StartReceiverThread: CreateThread failed\r\nfile: winmain\r\nline: 437");
    WorkerThread::SetThreadStarter(standard);
    EXPECT_FALSE(sender.Running());
    EXPECT_FALSE(receiver.Running());

    sender.Start(settings);
    EXPECT_FALSE(listener.Next().empty());
    sender.Stop();
    StartReceiver(receiver);
    receiver.Stop(0);
    EXPECT_TRUE(observer.Errors().empty());
}

TEST(Loopback, AStopGivesUpOnAWorkerThatDoesNotEndWhichKeepsRunningUntilItDoes) {
    const ScopedStopBound bound(200);  // 3 s in the product
    RecordingObserver observer;
    StuckClock senderClock;
    StuckClock receiverClock;
    Sender sender(observer, nullptr, senderClock);
    Receiver receiver(observer, nullptr, receiverClock);
    Listener listener;
    SenderSettings settings;
    settings.destination = listener.endpoint;
    sender.Start(settings);
    StartReceiver(receiver);
    ASSERT_TRUE(senderClock.WaitUntilHeld());
    ASSERT_TRUE(receiverClock.WaitUntilHeld());

    EXPECT_EQ(ThrownText([&] { sender.Stop(); }),
              "error in MainWindow::StopSenderThread: thread did not stop\r\nfile: winmain\r\nline: 246");
    EXPECT_EQ(ThrownText([&] { receiver.Stop(0); }),
              "error in MainWindow::StopReceiverThread: thread did not stop\r\nfile: winmain\r\nline: 446");
    EXPECT_TRUE(sender.Running());
    EXPECT_TRUE(receiver.Running());
    EXPECT_NE(ThrownText([&] { sender.Start(settings); }).find("thread already started"), std::string::npos);
    EXPECT_NE(ThrownText([&] { receiver.Start(ReceiverSettings()); }).find("thread already started"),
              std::string::npos);

    // Released, the workers see their stop and end; then both start again as usual.
    senderClock.Release();
    receiverClock.Release();
    ASSERT_TRUE(WaitUntil([&] { return !sender.Running() && !receiver.Running(); }));
    sender.Start(settings);
    sender.Stop();
    StartReceiver(receiver);
    receiver.Stop(0);
    EXPECT_TRUE(observer.Errors().empty());
}

// A sender to a listener of its own, started, its first packet arrived.
struct SendingSender {
    SendingSender(int32_t packetsPerPeriod, uint32_t periodMs, bool fixedPace = false, bool spread = false) {
        SenderSettings settings;
        settings.destination = listener.endpoint;
        settings.packetsPerPeriod = packetsPerPeriod;
        settings.periodMs = periodMs;
        settings.fixedPace = fixedPace;
        settings.spreadOverPeriod = spread;
        sender.Start(settings);
        EXPECT_FALSE(listener.Next().empty());
    }
    RecordingObserver observer;
    Sender sender{observer};
    Listener listener;
};

TEST(Loopback, AStopCutsAGroupShortAndTheRecordCountsItsPackets) {
    // The dialog accepts 2147483647 packets per period: a group of days under Wine.
    SendingSender run(2147483647, 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // several ticks of the tick count
    EXPECT_EQ(ThrownText([&] { run.sender.Stop(); }), "");
    const SenderStatistics record = run.sender.Statistics();
    EXPECT_GT(record.sentPackets, 0);
    EXPECT_GT(record.duration, 0.0);
    EXPECT_EQ(record.maxSendGroupDelay, 0.0);  // the cut group is no group's time
    EXPECT_EQ(run.observer.Displays(), 0);
}

// Stopped while waiting for its next group on a fixed schedule: the final record still takes
// the run's real duration, not the one of its last group.
TEST(Loopback, AStopDuringAFixedPacesWaitKeepsTheRealDuration) {
    SendingSender run(1, 60000, true);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(ThrownText([&] { run.sender.Stop(); }), "");
    EXPECT_GT(run.sender.Statistics().duration, 0.25);
}

// Calls spread over a minute: the second call's packet is due in 30 s, and a stop meanwhile
// ends the run at once with the group cut short.
TEST(Loopback, AStopWhileASpreadGroupWaitsForItsNextCallEndsTheRunAtOnce) {
    SendingSender run(2, 60000, true, true);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(ThrownText([&] { run.sender.Stop(); }), "");
    EXPECT_EQ(run.sender.Statistics().sentPackets, 1);
    EXPECT_EQ(run.sender.Statistics().groupsSent, 0);
}

TEST(Loopback, AResetDuringThePauseShowsThePeriodsDurationWithNoPackets) {
    SendingSender run(1, 300);
    std::this_thread::sleep_for(std::chrono::milliseconds(60));  // well into the pause
    run.sender.ResetStatistics();
    ASSERT_TRUE(WaitUntil([&] { return run.observer.Displays() > 0; }));
    run.sender.Stop();
    const SenderStatistics shown = run.observer.LastDisplayed();
    EXPECT_EQ(shown.sentPackets, 0);
    EXPECT_GT(shown.duration, 0.25);  // the period, give or take a tick
    EXPECT_NE(SenderStatisticsText(shown, 192).find("bandwidth=0. KB/sec"), std::string::npos);
}

}  // namespace
