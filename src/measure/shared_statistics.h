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

    // Worker: carries out a pending reset (zeroes both records). True if there was one.
    bool ConsumeReset() {
        if (!resetRequested_.exchange(false, std::memory_order_acq_rel)) {
            return false;
        }
        working_ = Record{};
        Publish();
        return true;
    }

    // GUI, while the worker runs: asks for a reset, then zeroes the published record so
    // that a display right away shows zeros even while the worker is blocked.
    void RequestReset() {
        resetRequested_.exchange(true, std::memory_order_acq_rel);
        StoreSharedRecord(published_, Record{});
    }

    // While no worker runs: zeroes both records and drops a pending request.
    void Clear() {
        resetRequested_.store(false);
        working_ = Record{};
        Publish();
    }

    // Any thread: an untorn copy of the published record.
    Record Snapshot() const { return LoadSharedRecord(published_); }

    // The published record; read it with LoadShared, write it (worker only) with StoreShared.
    Record& Published() { return published_; }
    const Record& Published() const { return published_; }

  private:
    Record working_{};
    Record published_{};
    std::atomic<bool> resetRequested_{false};
};
