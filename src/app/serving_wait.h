#pragma once
// Waiting on the GUI thread while it still serves the messages that other threads send to its
// windows (a worker's error box owned by the dialog needs them), but nothing posted.

#include <functional>

// Runs `call` on a helper thread and returns when it has returned; an Exception* it throws is
// thrown on here.
void RunServingSentMessages(const std::function<void()>& call);

// Returns once `done` is true; it is asked every few milliseconds.
void WaitServingSentMessages(const std::function<bool()>& done);
