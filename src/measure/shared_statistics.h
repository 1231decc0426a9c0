#pragma once
// A statistics record shared between its worker thread and the GUI thread without locks:
// the worker owns a working copy and publishes it; the GUI reads only the published copy
// and asks the worker to carry out resets. A sequence count around each publish lets a
// reader tell a copy of one publish from a mix of two, and retry.

#include <atomic>
#include <cstdint>
#include <thread>

// Record needs StoreSharedRecord(Record&, const Record&, ...) and LoadSharedRecord(const Record&).
template <typename Record>
class SharedStatistics {
  public:
    // Worker thread only (or anyone while no worker runs).
    Record& Working() { return working_; }
    const Record& Working() const { return working_; }

    // Worker: copies the working record into the published one (options go to StoreSharedRecord).
    template <typename... Options>
    void Publish(Options... options) {
        WritePublished([&] { StoreSharedRecord(published_, working_, options...); });
    }

    // Worker: publishes only what `store(published, working)` copies, for an update of
    // running counts alone, outside the sequence count: a snapshot may then take some from
    // just before and some from just after the update, each still a true count of its moment.
    // It spares each datagram two of its atomic read-modify-writes.
    template <typename Store>
    void PublishCounts(Store store) {
        store(published_, working_);
    }

    // Worker, between two updates: carries out a pending reset (zeroes both records). True
    // if there was one.
    bool ConsumeReset() {
        // A read-modify-write even when nothing is pending, so that a later request is
        // ordered after everything published so far.
        unsigned state = state_.fetch_or(0, std::memory_order_acq_rel);
        if ((state & kRequested) == 0) {
            return false;
        }
        working_ = Record{};
        Publish();
        // While the GUI thread is still zeroing the published record the request stays
        // pending, and the next call zeroes again: its late stores never outlive newer data.
        state = kRequested;
        state_.compare_exchange_strong(state, 0, std::memory_order_acq_rel);
        return true;
    }

    // Worker: the same for a worker that publishes by PublishCounts alone, whose stores need
    // not be ordered before a later request: the read-modify-write is left out while no reset
    // is asked for, and a request is seen one update later at worst.
    bool ConsumeRequestedReset() {
        return (state_.load(std::memory_order_acquire) & kRequested) != 0 && ConsumeReset();
    }

    // GUI thread (one), while the worker runs: asks for a reset and zeroes the published
    // record, so that a display right away shows zeros even while the worker is blocked.
    void RequestReset() {
        state_.fetch_or(kRequested | kZeroing, std::memory_order_acq_rel);
        WritePublished([&] { StoreSharedRecord(published_, Record{}); });
        state_.fetch_and(~kZeroing, std::memory_order_acq_rel);
    }

    // GUI thread: a reset that the worker carries out while it runs, and that is done at once
    // when no worker runs.
    void Reset(bool workerRunning) {
        if (workerRunning) {
            RequestReset();
        } else {
            Clear();
        }
    }

    // While no worker runs: zeroes both records and drops a pending request.
    void Clear() {
        state_.store(0);
        working_ = Record{};
        Publish();
    }

    // The thread that resets (or any other while nobody resets): a copy of one publish of
    // the record, retried while a publish is under way or came in between; zeros while a
    // reset is pending. Under a flood of publishes the tries are bounded: the last copy is
    // then taken, each of its fields whole, so that the GUI thread never waits without end.
    Record Snapshot() const {
        Record copy{};
        for (int attempt = 0; attempt < kSnapshotAttempts; ++attempt) {
            if ((state_.load(std::memory_order_acquire) & kRequested) != 0) {
                return Record{};
            }
            const uint32_t before = sequence_.load(std::memory_order_acquire);
            copy = LoadSharedRecord(published_);
            // A read-modify-write (release): the copy's loads cannot move past it.
            if ((before & 1u) == 0 && sequence_.fetch_add(0, std::memory_order_acq_rel) == before) {
                return copy;
            }
            // A publish is a few dozen stores: the worker finishes it within its time slice.
            std::this_thread::yield();
        }
        return copy;
    }

    // The published record, for readers of single fields in place (the graph reads the
    // histogram's bins so); read each with LoadShared.
    const Record& Published() const { return published_; }

  private:
    // The count is odd while `write` stores into the published record.
    template <typename Write>
    void WritePublished(Write write) {
        sequence_.fetch_add(1, std::memory_order_acq_rel);
        write();
        sequence_.fetch_add(1, std::memory_order_release);
    }

    static constexpr int kSnapshotAttempts = 1000;
    static constexpr unsigned kRequested = 1;  // a reset waits for the worker
    static constexpr unsigned kZeroing = 2;    // the GUI thread is zeroing the published record

    Record working_{};
    Record published_{};
    std::atomic<unsigned> state_{0};
    mutable std::atomic<uint32_t> sequence_{0};
};
