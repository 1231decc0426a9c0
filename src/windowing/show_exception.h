#pragma once
// Error message boxes: the one way errors reach the user.

#include <windows.h>

#include "base/errors.h"

// Shows the error's text in a modal error box owned by `owner` (may be null); does not destroy `e`.
void ShowException(const Exception* e, HWND owner);

// Shows a fixed error text in the same kind of box (for errors that are not an Exception).
void ShowErrorText(const char* text, HWND owner);
