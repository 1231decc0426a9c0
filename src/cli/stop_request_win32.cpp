#include <windows.h>

#include "cli/stop_request.h"

namespace {

// The handler only stores into this flag: a lock-free atomic is safe to touch from a
// signal handler, and the run loop polls it between its short sleeps.
std::atomic<bool> stopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free);

// Runs on a thread of its own that the system starts for each console event.
BOOL WINAPI OnConsoleEvent(DWORD event) {
    if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) {
        return FALSE;
    }
    // A second request is left to the default handler, which ends the process at once.
    return stopRequested.exchange(true) ? FALSE : TRUE;
}

}  // namespace

const std::atomic<bool>& InstallStopHandlers() {
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
    return stopRequested;
}
