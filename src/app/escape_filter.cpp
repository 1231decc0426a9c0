#include "app/escape_filter.h"

#include <commctrl.h>

namespace {

constexpr UINT_PTR kFilterId = 1;

// A multi-line edit asks the dialog manager for every key and answers Escape by posting
// WM_CLOSE to its dialog, which would end the program. The dialog must close only from its
// caption, system menu or Alt+F4, so Escape is swallowed before the edit sees it.
LRESULT CALLBACK FilterEscape(HWND window, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR) {
    if ((message == WM_KEYDOWN || message == WM_CHAR) && wParam == VK_ESCAPE) {
        return 0;
    }
    if (message == WM_NCDESTROY) {
        RemoveWindowSubclass(window, FilterEscape, kFilterId);
    }
    return DefSubclassProc(window, message, wParam, lParam);
}

}  // namespace

void IgnoreEscapeKey(HWND edit) {
    SetWindowSubclass(edit, FilterEscape, kFilterId, 0);
}
