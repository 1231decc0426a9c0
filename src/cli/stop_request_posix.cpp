#include <signal.h>

#include "cli/stop_request.h"

namespace {

// The handler only stores into this flag: a lock-free atomic is safe to touch from a
// signal handler, and the run loop polls it between its short sleeps.
std::atomic<bool> stopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free);

void OnStopSignal(int) {
    stopRequested.store(true);
}

}  // namespace

const std::atomic<bool>& InstallStopHandlers() {
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    // SA_RESETHAND: a second Ctrl-C finds the default action and ends a stop that hangs.
    action.sa_flags = SA_RESETHAND;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    return stopRequested;
}
