#pragma once
// The latest sessions report, handed from the report thread to whoever reads it between two
// reports (the metrics endpoint): a reader takes a shared copy and never waits for a report.

#include <memory>
#include <mutex>
#include <utility>

#include "cli/session_figures.h"

class PublishedSessions {
  public:
    void Publish(SessionsReport report) {
        auto latest = std::make_shared<const SessionsReport>(std::move(report));
        std::lock_guard<std::mutex> lock(mutex_);
        latest_ = std::move(latest);  // the old copy goes when its last reader is done
    }

    // An empty report before the first one.
    std::shared_ptr<const SessionsReport> Latest() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return latest_;
    }

  private:
    mutable std::mutex mutex_;
    std::shared_ptr<const SessionsReport> latest_ = std::make_shared<const SessionsReport>();
};
