#pragma once
// Window: binds an object to an ordinary window whose class it registers itself, one class
// per object; a subclass only writes HandleMessage.

#include <windows.h>

#include <cstdint>
#include <type_traits>

#include "base/window_message.h"

static_assert(std::is_same_v<WPARAM, uintptr_t> && std::is_same_v<LPARAM, intptr_t>);

// The parameters of Window::Create, filled with the defaults of a centred, empty top-level frame.
struct WindowCreateParams {
    WindowCreateParams();

    WNDCLASSA windowClass;
    const char* title;
    DWORD style;
    HWND parent;
    HMENU menu;
    HINSTANCE instance;
    int32_t left;
    int32_t top;
    int32_t right;
    int32_t bottom;
    bool center;
};

// The first window created while there is none; the default parent of later windows.
extern HWND rootWindow;

class Window {
  public:
    Window() = default;
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;
    virtual ~Window();

    // Called for every message the window receives from WM_CREATE on.
    virtual LRESULT HandleMessage(WindowMessage& message) = 0;

    bool Create(WindowCreateParams& params);
    void CenterOnScreen();

    static LRESULT CALLBACK WindowProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

    char className[32] = {};
    HINSTANCE instance = nullptr;
    HWND hwnd = nullptr;

  private:
    void UnregisterOwnClass();
};
