#pragma once
// Test helper: watches a thread for the next message box, records what it shows and presses OK.

#include <windows.h>

#include <functional>
#include <string>
#include <thread>

// What a message box showed.
struct SeenBox {
    bool found = false;
    std::string caption;
    std::string text;
    HWND owner = nullptr;
    bool hasIcon = false;
    int buttons = 0;
};

class MessageBoxWatcher {
  public:
    // Watches the calling thread for up to 10 s; after pressing OK it runs `afterClose` (may be empty).
    explicit MessageBoxWatcher(std::function<void()> afterClose = {});
    MessageBoxWatcher(const MessageBoxWatcher&) = delete;
    MessageBoxWatcher& operator=(const MessageBoxWatcher&) = delete;
    ~MessageBoxWatcher();

    // Waits for the watch to end and returns what was seen.
    SeenBox Result();

  private:
    void Watch();

    DWORD threadId_;
    std::function<void()> afterClose_;
    SeenBox seen_;
    std::thread thread_;
};
