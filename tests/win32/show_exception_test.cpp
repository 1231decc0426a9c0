// ShowException: the error box's text, owner, icon and buttons.

#include "windowing/show_exception.h"

#include <gtest/gtest.h>

#include "base/errors.h"
#include "base/format_string.h"
#include "message_box_watcher.h"

namespace {

TEST(ShowException, ShowsTheMessageAndTheEmptyDetailsLineInAnErrorBox) {
    ExceptionOwner error(
        new Exception(FormatString("error in A::B: broken\r\nfile: winmain\r\nline: %i", 237), true, -1));
    HWND owner = CreateWindowA("STATIC", "owner", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    MessageBoxWatcher watcher;
    ShowException(error.get(), owner);
    const SeenBox box = watcher.Result();
    DestroyWindow(owner);

    ASSERT_TRUE(box.found);
    EXPECT_EQ(box.text, "error in A::B: broken\r\nfile: winmain\r\nline: 237\r\n");
    EXPECT_EQ(box.owner, owner);
    EXPECT_TRUE(box.hasIcon);
    EXPECT_EQ(box.buttons, 1);
    // No caption of its own: the system's default for error boxes.
    EXPECT_FALSE(box.caption.empty());
    EXPECT_EQ(box.caption.find("Veltrane"), std::string::npos);
}

TEST(ShowException, BoxWithoutOwnerAndFixedText) {
    ExceptionOwner error(new Exception("cannot create window", false, -1));
    MessageBoxWatcher watcher;
    ShowException(error.get(), nullptr);
    const SeenBox box = watcher.Result();
    ASSERT_TRUE(box.found);
    EXPECT_EQ(box.text, "cannot create window\r\n");
    EXPECT_EQ(box.owner, nullptr);
}

}  // namespace
