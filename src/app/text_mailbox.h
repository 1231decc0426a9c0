#pragma once
// TextMailbox: hands the newest text from a worker thread to a window's thread: the text waits
// in one slot, and a posted message tells the window to take it.

#include <windows.h>

#include <cstdint>
#include <mutex>
#include <string_view>

#include "base/format_string.h"

class TextMailbox {
  public:
    // Any thread: replaces the waiting text and, unless a notice is still on its way, posts
    // `message` to `window`. `generation` counts the resets the text has seen: a text older
    // than one put before is dropped, so that it never lands after a reset's zero text.
    void Put(HWND window, UINT message, std::string_view text, uint64_t generation);

    // The window's thread, on `message`: the waiting text, null when there is none.
    OwnedText Take();

  private:
    std::mutex mutex_;
    OwnedText text_;
    bool noticePosted_ = false;
    uint64_t generation_ = 0;
};
