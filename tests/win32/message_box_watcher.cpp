#include "message_box_watcher.h"

#include <vector>

namespace {

std::string TextOf(HWND window) {
    char text[1024] = {};
    GetWindowTextA(window, text, sizeof(text));
    return text;
}

std::string ClassOf(HWND window) {
    char name[64] = {};
    GetClassNameA(window, name, sizeof(name));
    return name;
}

// A message box is a dialog with an OK button; the dialogs under test have no controls.
BOOL CALLBACK FindBox(HWND window, LPARAM lParam) {
    if (IsWindowVisible(window) && ClassOf(window) == "#32770" && GetDlgItem(window, IDOK) != nullptr) {
        *reinterpret_cast<HWND*>(lParam) = window;
        return FALSE;
    }
    return TRUE;
}

SeenBox Describe(HWND box) {
    SeenBox seen;
    seen.found = true;
    seen.caption = TextOf(box);
    seen.owner = GetWindow(box, GW_OWNER);
    for (HWND child = GetWindow(box, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        const std::string kind = ClassOf(child);
        const LONG style = GetWindowLongA(child, GWL_STYLE);
        if (kind == "Button" && (style & WS_VISIBLE)) {
            ++seen.buttons;
        } else if (kind == "Static" && (style & SS_TYPEMASK) == SS_ICON && (style & WS_VISIBLE)) {
            seen.hasIcon = true;
        } else if (kind == "Static" && !TextOf(child).empty()) {
            seen.text = TextOf(child);
        }
    }
    return seen;
}

}  // namespace

MessageBoxWatcher::MessageBoxWatcher(std::function<void()> afterClose)
    : threadId_(GetCurrentThreadId()), afterClose_(std::move(afterClose)), thread_([this] { Watch(); }) {}

MessageBoxWatcher::~MessageBoxWatcher() {
    if (thread_.joinable()) {
        thread_.join();
    }
}

SeenBox MessageBoxWatcher::Result() {
    if (thread_.joinable()) {
        thread_.join();
    }
    return seen_;
}

void MessageBoxWatcher::Watch() {
    for (int attempt = 0; attempt < 400; ++attempt) {
        HWND box = nullptr;
        EnumThreadWindows(threadId_, FindBox, reinterpret_cast<LPARAM>(&box));
        if (box != nullptr) {
            seen_ = Describe(box);
            PostMessageA(box, WM_COMMAND, IDOK, 0);
            break;
        }
        Sleep(25);
    }
    if (afterClose_) {
        afterClose_();
    }
}
