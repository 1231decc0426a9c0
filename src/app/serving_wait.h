#pragma once
// Waiting on the GUI thread while it still serves the messages that other threads send to its
// windows (a worker's error box owned by the dialog needs them), but nothing posted.

#include <functional>
#include <thread>

// Starts a thread that runs `body`; throws std::system_error when none can be created.
using HelperStarter = std::function<std::thread(std::function<void()> body)>;

// Runs `call` on a helper thread and returns when it has returned; an Exception* it throws is
// thrown on here. While no helper can be started, sent messages are served between tries (a
// worker's box may hold what the helper needs); after a few seconds `call` runs here.
void RunServingSentMessages(const std::function<void()>& call, const HelperStarter& startThread = {});

// Returns once `done` is true; it is asked every few milliseconds.
void WaitServingSentMessages(const std::function<bool()>& done);
