#include "windowing/dialog.h"

#include "base/errors.h"
#include "windowing/show_exception.h"

namespace {

Dialog* AttachedDialog(HWND window) {
    return reinterpret_cast<Dialog*>(GetWindowLongPtrA(window, GWLP_USERDATA));
}

INT_PTR CallHandler(Dialog* dialog, HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    // No exception may unwind through the dialog manager: an error is shown and the dialog stays open.
    return ShowErrorsOf<INT_PTR>(window, 0, [&] { return dialog->HandleMessage(message, wParam, lParam); });
}

}  // namespace

Dialog::~Dialog() {
    if (hwnd == nullptr) {
        return;
    }
    // Messages that still reach the window must not find a destroyed object.
    if (AttachedDialog(hwnd) == this) {
        SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
    }
    EndDialog(hwnd, 0);
}

bool Dialog::CanClose() {
    return true;
}

INT_PTR Dialog::RunModal(HINSTANCE instance, int templateId, HWND owner) {
    return DialogBoxParamA(instance, MAKEINTRESOURCEA(templateId), owner, DialogProcedure,
                           reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK Dialog::DialogProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* dialog = reinterpret_cast<Dialog*>(lParam);
        if (dialog != nullptr) {
            SetWindowLongPtrA(window, GWLP_USERDATA, lParam);
            dialog->hwnd = window;
            CallHandler(dialog, window, WM_INITDIALOG, wParam, 0);
        }
        // TRUE lets the dialog manager give the focus to the first tab stop.
        return TRUE;
    }

    Dialog* dialog = AttachedDialog(window);
    if (dialog == nullptr) {
        return FALSE;
    }
    if (message != WM_CLOSE) {
        return CallHandler(dialog, window, message, wParam, lParam);
    }

    // The caption's close button, the system menu and Alt+F4 all arrive here. A refused
    // close is answered as handled, so the default procedure does not turn it into IDCANCEL.
    if (!ShowErrorsOf(window, false, [&] { return dialog->CanClose(); })) {
        return TRUE;
    }
    const INT_PTR result = CallHandler(dialog, window, WM_CLOSE, wParam, lParam);
    if (result == 0) {
        dialog->hwnd = nullptr;
    }
    // Detach first: EndDialog hides the window at once, and the activation and focus
    // messages that this sends, like those of the window's destruction, reach no object.
    SetWindowLongPtrA(window, GWLP_USERDATA, 0);
    EndDialog(window, IDCLOSE);
    return FALSE;
}
