#pragma once
// MainWindow: the program's one dialog; owns all run-time state and handles the dialog's messages.

#include <windows.h>

#include "windowing/dialog.h"
#include "windowing/win32_handles.h"

class MainWindow : public Dialog {
  public:
    // `instance` is the module that holds the dialog's resources.
    explicit MainWindow(HINSTANCE instance);

    INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

  private:
    void OnInitDialog();
    void OnCommand(int id, int notification);
    void OnClose();

    void SetIcons();
    void SetDefaultSettings();
    void OpenFeedbackPage();
    void OpenHomePage();

    HINSTANCE instance_;
    // The icons must outlive the dialog window that shows them.
    OwnedIcon smallIcon_;
    OwnedIcon bigIcon_;
};
