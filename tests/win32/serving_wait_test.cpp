// The GUI thread's wait for a stop: it serves what other threads send it, also while no helper
// thread can be created.

#include "app/serving_wait.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <system_error>
#include <thread>

namespace {

// A worker that sends the waiting thread's window a message (as an error box owned by the
// dialog does) and ends only once it is answered, while the waited-for call waits up to 2 s
// for that end: without serving, the two would wait for each other.
bool WorkerEndsWithinTheCall(const HelperStarter& startHelper) {
    const HWND window = CreateWindowA("STATIC", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    EXPECT_NE(window, nullptr);
    std::atomic<bool> workerEnded{false};
    std::thread worker([&] {
        Sleep(50);
        SendMessageA(window, WM_NULL, 0, 0);
        workerEnded.store(true);
    });
    bool endedWithinTheCall = false;
    RunServingSentMessages(
        [&] {
            const DWORD start = GetTickCount();
            while (!workerEnded.load() && GetTickCount() - start < 2000) {
                Sleep(10);
            }
            endedWithinTheCall = workerEnded.load();
        },
        startHelper);
    // Answers a message still waiting, so that a failing wait fails instead of hanging here.
    MSG message;
    PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);
    worker.join();
    DestroyWindow(window);
    return endedWithinTheCall;
}

TEST(ServingWait, ServesSentMessagesWhileTheCallRuns) {
    EXPECT_TRUE(WorkerEndsWithinTheCall(nullptr));
}

TEST(ServingWait, ServesSentMessagesWhileNoHelperCanBeCreated) {
    int failures = 0;
    EXPECT_TRUE(WorkerEndsWithinTheCall([&](std::function<void()> body) {
        if (++failures <= 20) {
            throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
        }
        return std::thread(std::move(body));
    }));
}

}  // namespace
