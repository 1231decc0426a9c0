#pragma once
// Ctrl-C, Ctrl-Break and SIGTERM as the user's request to end the run cleanly.

#include <atomic>

// Installs the handlers; the flag turns true at the first request. A second request ends
// the program at once, as if no handler were installed.
const std::atomic<bool>& InstallStopHandlers();
