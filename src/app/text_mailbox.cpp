#include "app/text_mailbox.h"

#include <cstring>

// The message carries no pointer. A text that is never taken (the window went away first, or
// its notice was lost with it) stays here and is freed with the mailbox, and a forged message
// from another program finds at most the newest text. One notice at a time keeps a fast
// worker from filling the window's queue: texts that arrive meanwhile replace the waiting one.
void TextMailbox::Put(HWND window, UINT message, std::string_view text, uint64_t generation) {
    OwnedText copy(new char[text.size() + 1]);
    std::memcpy(copy.get(), text.data(), text.size());
    copy[text.size()] = '\0';

    std::lock_guard<std::mutex> lock(mutex_);
    if (generation < generation_) {
        return;
    }
    generation_ = generation;
    text_ = std::move(copy);
    // A null window would post to the calling thread itself.
    if (!noticePosted_ && window != nullptr) {
        noticePosted_ = PostMessageA(window, message, 0, 0) != 0;
    }
}

OwnedText TextMailbox::Take() {
    std::lock_guard<std::mutex> lock(mutex_);
    noticePosted_ = false;
    return std::move(text_);
}
