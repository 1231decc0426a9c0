// TextMailbox: a worker's texts reach the window's thread through one slot and one notice.

#include "app/text_mailbox.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>

namespace {

constexpr UINT kNotice = WM_APP + 7;

int TakeNotices(HWND window) {
    int notices = 0;
    MSG message;
    while (PeekMessageA(&message, window, kNotice, kNotice, PM_REMOVE)) {
        ++notices;
    }
    return notices;
}

// A worker faster than the window: a thousand texts leave one notice in the queue and the
// newest text in the slot; a text of an older generation (made before a reset) never replaces
// a newer one, also after the newer one was taken.
TEST(TextMailbox, OneNoticeAndTheNewestTextOfTheNewestGeneration) {
    const HWND window = CreateWindowA("STATIC", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    TextMailbox mailbox;
    std::thread worker([&] {
        for (int i = 0; i < 1000; ++i) {
            mailbox.Put(window, kNotice, "text " + std::to_string(i), 1);
        }
    });
    worker.join();
    EXPECT_EQ(TakeNotices(window), 1);
    OwnedText text = mailbox.Take();
    ASSERT_TRUE(text);
    EXPECT_STREQ(text.get(), "text 999");
    EXPECT_FALSE(mailbox.Take());

    mailbox.Put(window, kNotice, "zero record", 2);
    EXPECT_EQ(TakeNotices(window), 1);
    EXPECT_STREQ(mailbox.Take().get(), "zero record");
    mailbox.Put(window, kNotice, "made before the reset", 1);
    EXPECT_EQ(TakeNotices(window), 0);
    EXPECT_FALSE(mailbox.Take());
    DestroyWindow(window);
}

}  // namespace
