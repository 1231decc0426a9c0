#pragma once
// Test doubles for the measuring engine and the sessions: a hand-driven clock, a recording
// log sink, a recording worker observer, test packets and datagrams as received.

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "base/clock.h"
#include "base/errors.h"
#include "base/format_string.h"
#include "base/socket_library.h"
#include "base/udp_socket.h"
#include "measure/log_sink.h"
#include "measure/receiver.h"
#include "measure/sender_statistics.h"
#include "measure/test_packet.h"
#include "measure/worker_observer.h"
#include "measure/worker_thread.h"

// Returns `now` on every counter reading unless a script of readings is queued;
// `onCounter` runs at each reading (with its 1-based number). `now` may be set by one thread
// while another reads the clock.
class ManualClock : public Clock {
  public:
    explicit ManualClock(int64_t frequency = 1'000'000'000) : frequency_(frequency) {}

    void SetMs(double ms) { now = std::llround(ms * static_cast<double>(frequency_) / 1000.0); }

    int64_t Counter() override {
        ++readings;
        if (onCounter) {
            onCounter(readings);
        }
        if (!script.empty()) {
            const int64_t value = script.front();
            script.erase(script.begin());
            return value;
        }
        return now;
    }
    int64_t Frequency() override { return frequency_; }

    std::atomic<int64_t> now{0};
    std::vector<int64_t> script;
    int readings = 0;
    std::function<void(int)> onCounter;

  private:
    int64_t frequency_;
};

// Holds each thread that reads it inside Counter() until Release(): a worker that does not
// end when it is told to. Afterwards it reads 0.
class StuckClock : public Clock {
  public:
    int64_t Counter() override {
        std::unique_lock<std::mutex> lock(mutex_);
        held_ = true;
        changed_.notify_all();
        changed_.wait(lock, [this] { return released_; });
        return 0;
    }
    int64_t Frequency() override { return 1'000'000'000; }
    bool WaitUntilHeld() {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(5), [this] { return held_; });
    }
    void Release() {
        std::lock_guard<std::mutex> lock(mutex_);
        released_ = true;
        changed_.notify_all();
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool held_ = false;
    bool released_ = false;
};

// Replaces WorkerThread's stop bound for the life of the object.
class ScopedStopBound {
  public:
    explicit ScopedStopBound(uint32_t ms) : previous_(WorkerThread::SetStopBoundMs(ms)) {}
    ~ScopedStopBound() { WorkerThread::SetStopBoundMs(previous_); }
    ScopedStopBound(const ScopedStopBound&) = delete;
    ScopedStopBound& operator=(const ScopedStopBound&) = delete;

  private:
    uint32_t previous_;
};

class RecordingSink : public LogSink {
  public:
    void Log(char* text, int32_t level) override {
        OwnedText owned(text);
        std::lock_guard<std::mutex> lock(mutex_);
        entries_.emplace_back(owned.get(), level);
    }
    std::vector<std::pair<std::string, int32_t>> Entries() {
        std::lock_guard<std::mutex> lock(mutex_);
        return entries_;
    }
    // The event reports only, leaving out the watchdog's "delay = ..." texts.
    std::vector<std::string> Events() {
        std::vector<std::string> events;
        for (const auto& [text, level] : Entries()) {
            if (text.rfind("delay = ", 0) != 0) {
                events.push_back(text);
            }
        }
        return events;
    }

  private:
    std::mutex mutex_;
    std::vector<std::pair<std::string, int32_t>> entries_;
};

class RecordingObserver : public SenderObserver {
  public:
    void ReportError(Exception* e) override {
        ExceptionOwner owner(e);
        std::lock_guard<std::mutex> lock(mutex_);
        errors_.push_back(e->message);
        reasons_.push_back(ExceptionReason(*e));
    }
    void ReportUnknownError(const char* text) override {
        std::lock_guard<std::mutex> lock(mutex_);
        errors_.push_back(text);
    }
    void DisplaySenderStatistics(const SenderStatistics& statistics, uint32_t packetSize, uint64_t) override {
        std::lock_guard<std::mutex> lock(mutex_);
        ++displays_;
        lastDisplayed_ = statistics;
        lastPacketSize_ = packetSize;
    }
    std::vector<std::string> Errors() {
        std::lock_guard<std::mutex> lock(mutex_);
        return errors_;
    }
    // The system's reason beside each Exception reported (empty when it had none).
    std::vector<std::string> Reasons() {
        std::lock_guard<std::mutex> lock(mutex_);
        return reasons_;
    }
    int Displays() {
        std::lock_guard<std::mutex> lock(mutex_);
        return displays_;
    }
    SenderStatistics LastDisplayed() {
        std::lock_guard<std::mutex> lock(mutex_);
        return lastDisplayed_;
    }
    uint32_t LastPacketSize() {
        std::lock_guard<std::mutex> lock(mutex_);
        return lastPacketSize_;
    }

  private:
    std::mutex mutex_;
    std::vector<std::string> errors_;
    std::vector<std::string> reasons_;
    int displays_ = 0;
    SenderStatistics lastDisplayed_;
    uint32_t lastPacketSize_ = 0;
};

// A datagram of `size` bytes carrying the given header.
inline std::vector<uint8_t> MakePacket(int32_t index,
                                       int64_t group,
                                       int64_t sendCounter,
                                       int64_t frequency,
                                       uint32_t size = 64) {
    std::vector<uint8_t> packet(size < kPacketHeaderSize ? kPacketHeaderSize : size);
    WritePacketHeader(packet.data(), TestPacketHeader{index, group, sendCounter, frequency});
    packet.resize(size);  // a short datagram keeps the start of the header
    return packet;
}

// A UDP port that was free on every interface a moment ago (the system picked it for a socket
// now closed), so that tests running side by side do not meet on one port.
inline uint16_t FreeUdpPort() {
    SocketLibrary library;
    UdpSocket socket = UdpSocket::Open(Endpoint());
    if (!socket.Bind(Endpoint::Ipv4(0, 0))) {
        return 0;
    }
    const auto bound = socket.LocalEndpoint();
    return bound ? bound->Port() : 0;
}

// `bytes` as the receiver hands them on, arrived at `arrival`; `bytes` must outlive it.
inline ReceivedDatagram Received(const std::vector<uint8_t>& bytes,
                                 int64_t arrival = 0,
                                 const Endpoint& source = Endpoint(),
                                 int trafficClass = -1) {
    ReceivedDatagram received;
    received.bytes = bytes.data();
    received.length = static_cast<int64_t>(bytes.size());
    received.source = source;
    received.trafficClass = trafficClass;
    received.arrival = arrival;
    return received;
}

// Waits (bounded) until `done` holds; returns whether it did.
inline bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 5000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// The text of a caught Exception*, which it destroys ("" when nothing was thrown).
template <typename Action>
std::string ThrownText(Action action) {
    try {
        action();
    } catch (Exception* e) {
        ExceptionOwner owner(e);
        return e->message;
    }
    return "";
}

// Waits until the receiver's byte count has stopped changing.
inline void WaitForQuiet(const Receiver& receiver) {
    int64_t last = -1;
    WaitUntil([&] {
        const int64_t now = receiver.Statistics().bytesReceived;
        const bool quiet = now == last;
        last = now;
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        return quiet;
    });
}

// The sample of rank ceil(p/100 * n) of `sorted` (not empty): a percentile by nearest rank,
// exactly.
inline double ExactPercentile(const std::vector<double>& sorted, int percent) {
    const size_t rank = std::max<size_t>(1, (sorted.size() * static_cast<size_t>(percent) + 99) / 100);
    return sorted[rank - 1];
}
