// Dialog: message routing, closing and error handling, on real modal dialogs built from an
// in-memory template.

#include "windowing/dialog.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <stdexcept>
#include <utility>
#include <vector>

#include "base/errors.h"
#include "message_box_watcher.h"

namespace {

constexpr UINT kPoke = WM_APP + 1;

// A captioned pop-up without controls; DLGTEMPLATE followed by empty menu, class and title.
class EmptyTemplate {
  public:
    EmptyTemplate() {
        auto* dialog = reinterpret_cast<DLGTEMPLATE*>(words_);
        dialog->style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
        dialog->cx = 120;
        dialog->cy = 60;
    }
    const DLGTEMPLATE* Get() const { return reinterpret_cast<const DLGTEMPLATE*>(words_); }

  private:
    alignas(DWORD) WORD words_[sizeof(DLGTEMPLATE) / sizeof(WORD) + 3] = {};
};

// Records every message it is handed; `onMessage` supplies the handler's behaviour.
class RecordingDialog : public Dialog {
  public:
    INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override {
        messages.push_back(message);
        if (message == WM_INITDIALOG) {
            initialisationParameter = lParam;
            windowAtInitialisation = hwnd;
        }
        return onMessage ? onMessage(message, wParam, lParam) : 0;
    }
    bool CanClose() override {
        ++canCloseCalls;
        return canCloseCalls > refusedCloses;
    }

    size_t Count(UINT message) const { return std::count(messages.begin(), messages.end(), message); }

    std::function<INT_PTR(UINT, WPARAM, LPARAM)> onMessage;
    std::vector<UINT> messages;
    LPARAM initialisationParameter = -1;
    HWND windowAtInitialisation = nullptr;
    int canCloseCalls = 0;
    int refusedCloses = 0;
};

INT_PTR RunModal(Dialog& dialog) {
    static const EmptyTemplate dialogTemplate;
    return DialogBoxIndirectParamA(GetModuleHandleA(nullptr), dialogTemplate.Get(), nullptr, Dialog::DialogProcedure,
                                   reinterpret_cast<LPARAM>(&dialog));
}

// A plain window for calling the dialog procedure directly.
class ScratchWindow {
  public:
    ScratchWindow() : hwnd(CreateWindowA("STATIC", "", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr)) {}
    ScratchWindow(const ScratchWindow&) = delete;
    ScratchWindow& operator=(const ScratchWindow&) = delete;
    ~ScratchWindow() { DestroyWindow(hwnd); }
    const HWND hwnd;
};

LPARAM AsParameter(Dialog& dialog) {
    return reinterpret_cast<LPARAM>(&dialog);
}

TEST(Dialog, InitialisationAttachesTheObjectAndHandsOnNoParameter) {
    RecordingDialog dialog;
    LONG_PTR slotAtInitialisation = 0;
    dialog.onMessage = [&](UINT message, WPARAM, LPARAM) -> INT_PTR {
        if (message == WM_INITDIALOG) {
            slotAtInitialisation = GetWindowLongPtrA(dialog.hwnd, GWLP_USERDATA);
            PostMessageA(dialog.hwnd, WM_CLOSE, 0, 0);
        }
        return 0;
    };
    EXPECT_EQ(RunModal(dialog), IDCLOSE);
    ASSERT_FALSE(dialog.messages.empty());
    EXPECT_EQ(dialog.messages.front(), static_cast<UINT>(WM_INITDIALOG));
    EXPECT_EQ(dialog.initialisationParameter, 0);
    EXPECT_NE(dialog.windowAtInitialisation, nullptr);
    EXPECT_EQ(slotAtInitialisation, AsParameter(dialog));
}

TEST(Dialog, InitialisationReturnsTrueWhateverTheHandlerSays) {
    ScratchWindow window;
    RecordingDialog dialog;
    dialog.onMessage = [](UINT, WPARAM, LPARAM) -> INT_PTR { return 0; };
    EXPECT_EQ(Dialog::DialogProcedure(window.hwnd, WM_INITDIALOG, 0, AsParameter(dialog)), TRUE);
    EXPECT_EQ(dialog.hwnd, window.hwnd);

    // Without an object nothing is attached, and later messages find none.
    ScratchWindow bare;
    EXPECT_EQ(Dialog::DialogProcedure(bare.hwnd, WM_INITDIALOG, 0, 0), TRUE);
    EXPECT_EQ(Dialog::DialogProcedure(bare.hwnd, kPoke, 0, 0), FALSE);
    dialog.hwnd = nullptr;
}

TEST(Dialog, OtherMessagesReturnTheHandlersResult) {
    ScratchWindow window;
    RecordingDialog dialog;
    Dialog::DialogProcedure(window.hwnd, WM_INITDIALOG, 0, AsParameter(dialog));
    dialog.onMessage = [](UINT message, WPARAM wParam, LPARAM lParam) -> INT_PTR {
        return message == kPoke ? static_cast<INT_PTR>(wParam + lParam) : 0;
    };
    EXPECT_EQ(Dialog::DialogProcedure(window.hwnd, kPoke, 40, 2), 42);
    EXPECT_EQ(dialog.Count(kPoke), 1u);
    dialog.hwnd = nullptr;
}

TEST(Dialog, AcceptedCloseEndsWithCodeEightAndDetachesTheObject) {
    RecordingDialog dialog;
    dialog.onMessage = [&](UINT message, WPARAM, LPARAM) -> INT_PTR {
        if (message == WM_INITDIALOG) {
            PostMessageA(dialog.hwnd, WM_CLOSE, 0, 0);
            // Would reach the handler if the object stayed attached after the close.
            PostMessageA(dialog.hwnd, kPoke, 0, 0);
        }
        return 0;
    };
    EXPECT_EQ(RunModal(dialog), IDCLOSE);
    // WM_CLOSE was the last message the handler saw: not even WM_DESTROY followed.
    EXPECT_EQ(dialog.messages.back(), static_cast<UINT>(WM_CLOSE));
    EXPECT_EQ(dialog.Count(WM_DESTROY), 0u);
    EXPECT_EQ(dialog.Count(kPoke), 0u);
    EXPECT_EQ(dialog.hwnd, nullptr);
    EXPECT_EQ(dialog.canCloseCalls, 1);
}

TEST(Dialog, RefusedCloseKeepsTheDialogOpenAndSkipsTheHandler) {
    RecordingDialog dialog;
    dialog.refusedCloses = 1;
    dialog.onMessage = [&](UINT message, WPARAM, LPARAM) -> INT_PTR {
        if (message == WM_INITDIALOG) {
            PostMessageA(dialog.hwnd, WM_CLOSE, 0, 0);
            PostMessageA(dialog.hwnd, WM_CLOSE, 0, 0);
        }
        return 0;
    };
    EXPECT_EQ(RunModal(dialog), IDCLOSE);
    // The second close could only arrive because the first one left the dialog open.
    EXPECT_EQ(dialog.canCloseCalls, 2);
    EXPECT_EQ(dialog.Count(WM_CLOSE), 1u);
}

TEST(Dialog, RefusedCloseIsAnsweredAsHandled) {
    ScratchWindow window;
    RecordingDialog dialog;
    dialog.refusedCloses = 1;
    Dialog::DialogProcedure(window.hwnd, WM_INITDIALOG, 0, AsParameter(dialog));
    EXPECT_EQ(Dialog::DialogProcedure(window.hwnd, WM_CLOSE, 0, 0), TRUE);
    EXPECT_EQ(dialog.Count(WM_CLOSE), 0u);
    EXPECT_EQ(GetWindowLongPtrA(window.hwnd, GWLP_USERDATA), AsParameter(dialog));
    SetWindowLongPtrA(window.hwnd, GWLP_USERDATA, 0);
    dialog.hwnd = nullptr;
}

// Runs a dialog whose handler calls `fail` for a posted message, and returns the error box
// that appeared; the box's watcher closes the dialog once the box is gone.
SeenBox ErrorBoxOfFailingHandler(const std::function<void()>& fail, HWND& owner) {
    RecordingDialog dialog;
    std::atomic<HWND> window{nullptr};
    MessageBoxWatcher watcher([&] { PostMessageA(window.load(), WM_CLOSE, 0, 0); });
    dialog.onMessage = [&](UINT message, WPARAM, LPARAM) -> INT_PTR {
        if (message == WM_INITDIALOG) {
            window = dialog.hwnd;
            PostMessageA(dialog.hwnd, kPoke, 0, 0);
        } else if (message == kPoke) {
            fail();
        }
        return 0;
    };
    EXPECT_EQ(RunModal(dialog), IDCLOSE);
    // The close arrived after the box: the error left the dialog open.
    EXPECT_EQ(dialog.Count(WM_CLOSE), 1u);
    owner = window.load();
    return watcher.Result();
}

TEST(Dialog, ErrorsEscapingTheHandlerAreShownOverTheDialogWhichStaysOpen) {
    HWND dialog = nullptr;
    const SeenBox error = ErrorBoxOfFailingHandler(
        [] { ThrowError("error in Test::Poke: failed\r\nfile: test\r\nline: %i", 7); }, dialog);
    ASSERT_TRUE(error.found);
    EXPECT_EQ(error.text, "error in Test::Poke: failed\r\nfile: test\r\nline: 7\r\n");
    EXPECT_EQ(error.owner, dialog);
    EXPECT_TRUE(error.hasIcon);

    const SeenBox unknown = ErrorBoxOfFailingHandler([] { throw std::runtime_error("not ours"); }, dialog);
    ASSERT_TRUE(unknown.found);
    EXPECT_EQ(unknown.text, "unknown exception");
    EXPECT_EQ(unknown.owner, dialog);
}

TEST(Dialog, DestroyingAnAttachedDialogEndsItWithCodeZero) {
    RecordingDialog outer;
    LONG_PTR slotAfterDestruction = -1;
    outer.onMessage = [&](UINT message, WPARAM, LPARAM) -> INT_PTR {
        if (message == WM_INITDIALOG) {
            PostMessageA(outer.hwnd, kPoke, 0, 0);
        } else if (message == kPoke) {
            HWND window = std::exchange(outer.hwnd, nullptr);
            {
                // A second object takes the window over and goes away while the dialog runs.
                RecordingDialog replacement;
                Dialog::DialogProcedure(window, WM_INITDIALOG, 0, AsParameter(replacement));
            }
            // The window's remaining messages must not reach the destroyed object.
            slotAfterDestruction = GetWindowLongPtrA(window, GWLP_USERDATA);
        }
        return 0;
    };
    EXPECT_EQ(RunModal(outer), 0);
    EXPECT_EQ(slotAfterDestruction, 0);
}

}  // namespace
