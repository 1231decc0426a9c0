#pragma once
// Error message boxes: the one way errors reach the user.

#include <windows.h>

#include "base/errors.h"

// Shows the error's text in a modal error box owned by `owner` (may be null); does not destroy `e`.
void ShowException(const Exception* e, HWND owner);

// Shows a fixed error text in the same kind of box (for errors that are not an Exception).
void ShowErrorText(const char* text, HWND owner);

// Runs `call`; an error it lets escape is shown in a box owned by `owner` and `fallback` is
// returned instead. For the edges where nothing may unwind: window and dialog procedures.
template <typename Result, typename Call>
Result ShowErrorsOf(HWND owner, Result fallback, Call call) {
    try {
        return call();
    } catch (Exception* e) {
        ExceptionOwner ownedError(e);
        ShowException(e, owner);
    } catch (...) {
        ShowErrorText("unknown exception", owner);
    }
    return fallback;
}
