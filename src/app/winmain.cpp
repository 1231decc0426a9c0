// The program entry: runs the main dialog and returns 0 however it ended.

#include <windows.h>

#include <commctrl.h>
#include <objbase.h>

#include <memory>

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
    auto mainWindow = std::make_unique<MainWindow>(instance);
    const INT_PTR result = mainWindow->RunModal(instance, IDD_MAIN, nullptr);
    if (!mainWindow->WorkersEnded()) {
        // A worker whose stop gave up still uses the window's members: they are left to it,
        // and the end of the process ends the worker.
        static_cast<void>(mainWindow.release());
        return;
    }
    // A dialog that cannot even be created would otherwise end the program without a word.
    if (result == -1) {
        ThrowFixed("cannot create window");
    }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    ComApartment apartment;
    RegisterCommonControls();
    // Whatever escapes, std::bad_alloc among it, is told before the program ends.
    ShowErrorsOf(nullptr, 0, [instance] {
        RunMainWindow(instance);
        return 0;
    });
    return 0;
}
