#include "app/serving_wait.h"

#include <windows.h>

#include <atomic>
#include <system_error>
#include <thread>

#include "base/errors.h"
#include "windowing/win32_handles.h"

namespace {

constexpr DWORD kPollMs = 10;

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

}  // namespace

void RunServingSentMessages(const std::function<void()>& call) {
    OwnedKernelHandle finished(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    std::atomic<bool> done{false};
    CaughtError caught;
    std::thread helper;
    try {
        helper = std::thread([&] {
            caught = RunCatchingErrors(call);
            done.store(true);
            SetEvent(finished.Get());
        });
    } catch (const std::system_error&) {
        // No thread to spare: wait the plain way.
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
