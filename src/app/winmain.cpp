// The program entry: runs the main dialog and returns 0 however it ended.

#include <windows.h>

#include <commctrl.h>
#include <objbase.h>

#include "app/main_window.h"
#include "app/resource.h"
#include "base/errors.h"
#include "windowing/show_exception.h"

namespace {

// The IP address controls of the dialog need their window class registered before the
// dialog is created.
void RegisterCommonControls() {
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_INTERNET_CLASSES};
    InitCommonControlsEx(&controls);
}

// The shell may run the link buttons' "open" through COM extensions, which want the GUI
// thread in a single-threaded apartment.
class ComApartment {
  public:
    ComApartment() : initialised_(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {}
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
    ~ComApartment() {
        if (initialised_) {
            CoUninitialize();
        }
    }

  private:
    bool initialised_;
};

void RunMainWindow(HINSTANCE instance) {
    MainWindow mainWindow(instance);
    // A dialog that cannot even be created would otherwise end the program without a word.
    if (mainWindow.RunModal(instance, IDD_MAIN, nullptr) == -1) {
        ThrowFixed("cannot create window");
    }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    ComApartment apartment;
    RegisterCommonControls();
    try {
        RunMainWindow(instance);
    } catch (Exception* e) {
        ExceptionOwner owner(e);
        ShowException(e, nullptr);
    }
    return 0;
}
