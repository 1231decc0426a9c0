#include "measure/worker_thread.h"

#include <chrono>
#include <system_error>

namespace {

std::thread StandardThread(std::function<void()> body) {
    return std::thread(std::move(body));
}

std::atomic<WorkerThread::ThreadStarter> threadStarter{&StandardThread};
std::atomic<uint32_t> stopBoundMs{WorkerThread::kStopBoundMs};

}  // namespace

WorkerThread::ThreadStarter WorkerThread::SetThreadStarter(ThreadStarter starter) {
    return threadStarter.exchange(starter != nullptr ? starter : &StandardThread);
}

uint32_t WorkerThread::SetStopBoundMs(uint32_t ms) {
    return stopBoundMs.exchange(ms);
}

uint32_t WorkerThread::StopBoundMs() {
    return stopBoundMs.load();
}

WorkerThread::~WorkerThread() {
    Join();
}

bool WorkerThread::Start(std::function<void()> body) {
    if (Running()) {
        return false;
    }
    Join();  // an earlier body has returned; collect its thread
    running_.store(true);
    try {
        thread_ = threadStarter.load()([this, body = std::move(body)] {
            try {
                body();
            } catch (...) {
                // Nothing may leave a thread procedure; the engine's bodies catch their own.
            }
            {
                std::lock_guard<std::mutex> lock(mutex_);
                running_.store(false);
            }
            ended_.notify_all();
        });
    } catch (const std::system_error&) {
        running_.store(false);
        return false;
    }
    return true;
}

bool WorkerThread::WaitFor(uint32_t ms) {
    std::unique_lock<std::mutex> lock(mutex_);
    return ended_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return !running_.load(); });
}

void WorkerThread::Join() {
    if (thread_.joinable()) {
        thread_.join();
    }
}
