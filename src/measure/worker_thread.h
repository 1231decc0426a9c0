#pragma once
// A thread that runs one body at a time and whose end can be awaited with a time-out.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

class WorkerThread {
  public:
    WorkerThread() = default;
    ~WorkerThread();  // joins
    WorkerThread(const WorkerThread&) = delete;
    WorkerThread& operator=(const WorkerThread&) = delete;

    // Starts `body` on a new thread (joining an earlier thread that has ended). Returns false,
    // and stays not running, when the thread cannot be created or a body still runs.
    bool Start(std::function<void()> body);

    // True from Start until the body has returned.
    bool Running() const { return running_.load(); }

    // Waits up to `ms` milliseconds for the body to return; true when it has.
    bool WaitFor(uint32_t ms);

    // Waits without a time-out until the thread has ended.
    void Join();

  private:
    std::thread thread_;
    std::atomic<bool> running_{false};
    std::mutex mutex_;
    std::condition_variable ended_;
};
