#include "app/serving_wait.h"

#include <windows.h>

#include <atomic>
#include <system_error>
#include <thread>

#include "base/errors.h"
#include "windowing/win32_handles.h"

namespace {

constexpr DWORD kPollMs = 10;
// How long a helper thread is tried for before the call runs on the GUI thread after all.
constexpr DWORD kHelperTriesMs = 3000;

// A worker that shows a box owned by the dialog sends the dialog messages (its owner is
// disabled and enabled again, activation moves) and waits for the answers. Only sent
// messages are served here: posted input, timers and paints wait, so no click can start a
// second command while the first one still waits.
void ServeSentMessagesUntil(const std::function<bool()>& done, HANDLE wakeUp) {
    while (!done()) {
        const DWORD handleCount = wakeUp != nullptr ? 1 : 0;
        MsgWaitForMultipleObjectsEx(handleCount, &wakeUp, kPollMs, QS_SENDMESSAGE, 0);
        MSG message;
        PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}

// Threads that cannot be created now may be creatable once a worker has ended (its stack goes
// with it): the GUI thread meanwhile goes on serving, so that a worker's box can close.
std::thread StartHelper(const HelperStarter& startThread, std::function<void()> body) {
    const DWORD start = GetTickCount();
    for (;;) {
        try {
            return startThread ? startThread(body) : std::thread(body);
        } catch (const std::system_error&) {
            if (GetTickCount() - start >= kHelperTriesMs) {
                return std::thread();
            }
        }
        const DWORD pause = GetTickCount();
        ServeSentMessagesUntil([pause] { return GetTickCount() - pause >= kPollMs; }, nullptr);
    }
}

}  // namespace

void RunServingSentMessages(const std::function<void()>& call, const HelperStarter& startThread) {
    OwnedKernelHandle finished(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    std::atomic<bool> done{false};
    CaughtError caught;
    std::thread helper = StartHelper(startThread, [&] {
        caught = RunCatchingErrors(call);
        done.store(true);
        SetEvent(finished.Get());
    });
    if (!helper.joinable()) {
        // No thread to spare at all: wait the plain way.
        call();
        return;
    }
    ServeSentMessagesUntil([&] { return done.load(); }, finished.Get());
    helper.join();
    if (caught.exception) {
        throw caught.exception.release();
    }
    if (caught.unknown) {
        ThrowFixed("unknown exception");
    }
}

void WaitServingSentMessages(const std::function<bool()>& done) {
    ServeSentMessagesUntil(done, nullptr);
}
