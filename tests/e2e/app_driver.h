#pragma once
// Drives a running Veltrane.exe from another process through window messages.

#include <windows.h>

#include <string>
#include <vector>

#include "windowing/win32_handles.h"

// The main dialog's caption, by which the driver finds it.
inline constexpr const char* kMainCaption = "UDP/IP Veltrane";

// A program started by the driver; killed when this object goes, unless it has ended.
class ChildProcess {
  public:
    // Starts `program` (a Windows path) with no arguments; throws std::runtime_error on failure.
    explicit ChildProcess(const std::string& program);
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;
    ~ChildProcess();

    DWORD Id() const { return id_; }
    // True when the process ended within `timeoutMs`.
    bool WaitForExit(DWORD timeoutMs);
    // The exit code, or STILL_ACTIVE while it runs.
    DWORD ExitCode() const;
    void Kill();

  private:
    OwnedKernelHandle job_;
    OwnedKernelHandle process_;
    DWORD id_ = 0;
};

// An error or message box that a program shows.
struct MessageBoxInfo {
    HWND window;
    std::string caption;
    std::string text;
};

// A path as Windows programs take it: "/a/b" (a Linux path under Wine) becomes "Z:\a\b".
std::string WindowsPath(const std::string& path);

// Polls until a visible dialog with `caption` of process `processId` (0: any) exists and answers messages.
HWND WaitForDialog(DWORD processId, const char* caption, DWORD timeoutMs);

// The top-level dialogs of the process other than `mainDialog`: the boxes it shows.
std::vector<MessageBoxInfo> OpenMessageBoxes(DWORD processId, HWND mainDialog);

// True when the window's thread has handled everything sent to it before (a round trip of WM_NULL).
bool Synchronise(HWND window);

// The text of a window of another process (WM_GETTEXT); empty when it does not answer.
std::string WindowText(HWND window);
std::string ClassName(HWND window);

// The window's own children, in z-order (for a dialog: template order), without grandchildren.
std::vector<HWND> DirectChildren(HWND parent);

// Clicks a button or check box and waits until the click has been handled; false on time-out.
bool Click(HWND control);

// Clicks without waiting: for a click whose handling shows a modal box.
void PostClick(HWND control);

// Sets a control's text (WM_SETTEXT), or an IP address control's address in host order.
bool SetText(HWND control, const std::string& text);
bool SetAddress(HWND control, DWORD hostOrderAddress);

bool IsChecked(HWND checkBox);

// Polls the control's text until `accept` takes it or `timeoutMs` is over; returns the last text.
std::string WaitForText(HWND control, bool (*accept)(const std::string&), DWORD timeoutMs);

// Polls until the process shows at least one box besides its main dialog; empty on time-out.
std::vector<MessageBoxInfo> WaitForMessageBoxes(DWORD processId, HWND mainDialog, DWORD timeoutMs);

// Presses the box's OK button and waits until the box is gone; false on time-out.
bool DismissMessageBox(HWND box);

// The first direct child of `parent` with this window text, or null.
HWND FindChild(HWND parent, const std::string& text);

// The window that has the keyboard focus in the thread of `window`.
HWND FocusOfThread(HWND window);

// The CPU time so far of the thread that runs `window`, in milliseconds; negative when unknown.
double ThreadCpuTimeMs(HWND window);

// The CPU time so far of the process's threads that run now, in milliseconds.
double ProcessCpuTimeMs(DWORD processId);
