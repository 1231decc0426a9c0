#include "windowing/window.h"

#include <charconv>
#include <cstring>

#include "base/errors.h"
#include "windowing/show_exception.h"

HWND rootWindow = nullptr;

namespace {

// Runs the handler; an error it lets escape is shown here, in a box owned by the window (the
// system makes its top-level ancestor the owner), because nothing may unwind through the
// platform's dispatch code. The caller then answers with `failed`.
LRESULT CallHandler(Window& window, HWND hwnd, WindowMessage& message, LRESULT failed) {
    return ShowErrorsOf(hwnd, failed, [&] { return window.HandleMessage(message); });
}

}  // namespace

WindowCreateParams::WindowCreateParams()
    : windowClass{},
      title(""),
      style(WS_OVERLAPPEDWINDOW),
      parent(rootWindow),
      menu(nullptr),
      instance(GetModuleHandleA(nullptr)),
      left(0),
      top(0),
      right(2 * GetSystemMetrics(SM_CXFRAME)),
      bottom(2 * GetSystemMetrics(SM_CYFRAME) + GetSystemMetrics(SM_CYCAPTION)),
      center(true) {
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.hIcon = LoadIcon(nullptr, IDI_APPLICATION);
    windowClass.hCursor = LoadCursor(nullptr, IDC_ARROW);
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
}

// A window normally dies before its object (a child with its parent dialog). One that is still
// alive here would call into freed memory with its next message and keep the class registered
// (so that a later object at the same address could not register it): it is unbound first,
// so that its last messages go to no handler, and then destroyed.
Window::~Window() {
    if (hwnd != nullptr) {
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
        DestroyWindow(hwnd);
    }
    UnregisterOwnClass();
}

void Window::UnregisterOwnClass() {
    if (className[0] != '\0') {
        UnregisterClassA(className, instance);
        instance = nullptr;
    }
}

// The class name carries the object's full address, so that every object has its own class
// and two live objects can never collide (a 32-bit rendering could on 64-bit Windows).
bool Window::Create(WindowCreateParams& params) {
    if (hwnd != nullptr) {
        ThrowFixed("window is already created");
    }
    UnregisterOwnClass();
    static constexpr char kPrefix[] = "Window:";
    std::memcpy(className, kPrefix, sizeof kPrefix - 1);
    char* end = std::to_chars(className + sizeof kPrefix - 1, className + sizeof className - 1,
                              reinterpret_cast<uintptr_t>(this))
                    .ptr;
    *end = '\0';

    instance = params.windowClass.hInstance;
    params.windowClass.lpszClassName = className;
    params.windowClass.lpfnWndProc = WindowProcedure;
    if (RegisterClassA(&params.windowClass) == 0) {
        ThrowFixed("cannot register window class");
    }
    HWND created =
        CreateWindowExA(0, className, params.title, params.style, params.left, params.top, params.right - params.left,
                        params.bottom - params.top, params.parent, params.menu, params.instance, this);
    if (created == nullptr) {
        // A handler that refused WM_CREATE bound the window already, and the platform does not
        // always send WM_DESTROY for it.
        if (hwnd != nullptr && rootWindow == hwnd) {
            rootWindow = nullptr;
        }
        hwnd = nullptr;
        UnregisterClassA(className, instance);
        className[0] = '\0';
        instance = nullptr;
        ThrowFixed("cannot create window");
    }
    hwnd = created;
    if (params.center) {
        CenterOnScreen();
    }
    ShowWindow(hwnd, SW_SHOW);
    return true;
}

void Window::CenterOnScreen() {
    RECT r;
    GetWindowRect(hwnd, &r);
    int w = r.right - r.left;
    int h = r.bottom - r.top;
    int x = (GetSystemMetrics(SM_CXSCREEN) - w) / 2;
    int y = (GetSystemMetrics(SM_CYSCREEN) - h) / 2;
    MoveWindow(hwnd, x, y, w, h, TRUE);
}

// WM_CREATE binds the object (the creation parameter) to the window through the user-data
// slot; every later message finds it there. WM_CREATE never reaches the default procedure
// and WM_DESTROY always does; otherwise the handler decides through callDefault.
LRESULT CALLBACK Window::WindowProcedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    WindowMessage m{message, wParam, lParam, true};
    if (message == WM_CREATE) {
        auto* window = static_cast<Window*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
        window->hwnd = hwnd;
        if (rootWindow == nullptr) {
            rootWindow = hwnd;
        }
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(window));
        // A handler that fails WM_CREATE makes the creation fail.
        return CallHandler(*window, hwnd, m, -1);
    }
    auto* window = reinterpret_cast<Window*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    LRESULT result = 0;
    if (window != nullptr) {
        result = CallHandler(*window, hwnd, m, 0);
    }
    if (message == WM_DESTROY) {
        if (rootWindow == hwnd) {
            rootWindow = nullptr;
        }
        if (window != nullptr) {
            window->hwnd = nullptr;
        }
        DefWindowProcA(hwnd, message, wParam, lParam);
        return 0;
    }
    if (m.callDefault) {
        return DefWindowProcA(hwnd, message, wParam, lParam);
    }
    return result;
}
