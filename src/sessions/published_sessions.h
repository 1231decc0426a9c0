#pragma once
// The latest report's sessions, handed from the report thread to readers on other threads
// (the metrics server): they see the copy the report thread made, never the live table.

#include <memory>
#include <mutex>

#include "sessions/session_figures.h"

class PublishedSessions {
  public:
    // Report thread: replaces what readers see.
    void Set(SessionsReport report) {
        auto published = std::make_shared<const SessionsReport>(std::move(report));
        std::lock_guard<std::mutex> lock(mutex_);
        latest_ = std::move(published);
    }

    // Any thread: the latest report, or null before the first one. The lock is held only to
    // copy the pointer, so a reader never delays the report thread by more than that.
    std::shared_ptr<const SessionsReport> Get() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return latest_;
    }

  private:
    mutable std::mutex mutex_;
    std::shared_ptr<const SessionsReport> latest_;
};
