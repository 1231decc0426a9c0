#pragma once
// Dialog: binds an object to a modal dialog built from a dialog template; subclasses write HandleMessage.

#include <windows.h>

class Dialog {
  public:
    Dialog() = default;
    Dialog(const Dialog&) = delete;
    Dialog& operator=(const Dialog&) = delete;

    // Handles one message of the dialog; the result is the dialog procedure's.
    virtual INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) = 0;
    // Asked before a WM_CLOSE is handled; false keeps the dialog open.
    virtual bool CanClose();

    // Runs the dialog of template `templateId` from `instance` modally; returns EndDialog's code, -1 on failure.
    INT_PTR RunModal(HINSTANCE instance, int templateId, HWND owner);

    // The dialog procedure every Dialog runs with; the initialisation parameter is the Dialog object.
    static INT_PTR CALLBACK DialogProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    // The dialog's window: null until WM_INITDIALOG, null again after an accepted close.
    HWND hwnd = nullptr;

  protected:
    // Not virtual: a Dialog is never deleted through a base pointer.
    ~Dialog();
};
