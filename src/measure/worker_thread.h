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
    // Creates the thread that runs `body`; throws std::system_error when it cannot.
    using ThreadStarter = std::thread (*)(std::function<void()> body);

    // How long a stop waits for a worker once it has been told to end (its flag set, its
    // socket closed): 3 s, so that a worker stuck in the system never holds the GUI for good.
    static constexpr uint32_t kStopBoundMs = 3000;

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

    // Waits up to StopBoundMs() for the body to return; true when it has.
    bool WaitForStop() { return WaitFor(StopBoundMs()); }

    // Waits without a time-out until the thread has ended.
    void Join();

    // Seams for tests, process-wide: the thread starter (nullptr: the standard one) and the
    // stop bound. Each returns the value it replaces.
    static ThreadStarter SetThreadStarter(ThreadStarter starter);
    static uint32_t SetStopBoundMs(uint32_t ms);
    static uint32_t StopBoundMs();

  private:
    std::thread thread_;
    std::atomic<bool> running_{false};
    std::mutex mutex_;
    std::condition_variable ended_;
};
