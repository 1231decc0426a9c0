#pragma once
// Keeps the Escape key in a multi-line edit from closing the dialog that holds it.

#include <windows.h>

// Installs the filter on `edit`; it removes itself when the edit is destroyed.
void IgnoreEscapeKey(HWND edit);
