#pragma once
// The message record handed to window handlers and to the graph's layers. Kept free of
// <windows.h> (the field types equal WPARAM and LPARAM) so that portable code can take it.

#include <cstdint>

struct WindowMessage {
    uint32_t message;
    uintptr_t wParam;
    intptr_t lParam;
    // True on entry; a handler that has dealt with the message clears it, and then its own
    // result goes back to the platform instead of the default window procedure's.
    bool callDefault = true;
};
