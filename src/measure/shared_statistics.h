#pragma once
// A statistics record shared between its worker thread and the GUI thread without locks:
// the worker owns a working copy and publishes it; the GUI reads only the published copy
// and asks the worker to carry out resets.

#include <atomic>

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
        StoreSharedRecord(published_, working_, options...);
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

    // GUI thread (one), while the worker runs: asks for a reset and zeroes the published
    // record, so that a display right away shows zeros even while the worker is blocked.
    void RequestReset() {
        state_.fetch_or(kRequested | kZeroing, std::memory_order_acq_rel);
        StoreSharedRecord(published_, Record{});
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

    // Any thread: an untorn copy of the published record; zeros while a reset is pending.
    Record Snapshot() const {
        if ((state_.load(std::memory_order_acquire) & kRequested) != 0) {
            return Record{};
        }
        return LoadSharedRecord(published_);
    }

    // The published record; read it with LoadShared, write it (worker only) with StoreShared.
    Record& Published() { return published_; }
    const Record& Published() const { return published_; }

  private:
    static constexpr unsigned kRequested = 1;  // a reset waits for the worker
    static constexpr unsigned kZeroing = 2;    // the GUI thread is zeroing the published record

    Record working_{};
    Record published_{};
    std::atomic<unsigned> state_{0};
};
