#pragma once
// The latest value of one thread's making, handed to readers on other threads: they see a
// copy the writer made, never the writer's live state.

#include <memory>
#include <mutex>

template <typename T>
class Published {
  public:
    // Writer: replaces what readers see.
    void Set(T value) {
        auto published = std::make_shared<const T>(std::move(value));
        std::lock_guard<std::mutex> lock(mutex_);
        latest_ = std::move(published);
    }

    // Any thread: the latest value, or null before the first one. The lock is held only to
    // copy the pointer, so a reader never delays the writer by more than that.
    std::shared_ptr<const T> Get() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return latest_;
    }

  private:
    mutable std::mutex mutex_;
    std::shared_ptr<const T> latest_;
};
