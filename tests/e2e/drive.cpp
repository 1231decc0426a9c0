// veltrane_drive: operates a running Veltrane.exe from the command line, for scripts/run's
// headless demonstration. Each argument group is one command, carried out in order:
//   wait <seconds>    wait until the main dialog is shown
//   click <id>        click the button or check box with that control id
//   sleep <ms>        pause
//   text <id>         print the text of a control
//   close <seconds>   close the dialog (WM_CLOSE) and wait until it is gone
//   errors            print any error box the program shows; fail if there is one
//   cpu <ms>          print the CPU share of the program's GUI thread and of all its threads
//                     over the next <ms> milliseconds
// Exit code 0 when every command succeeded, 1 otherwise, 2 on a usage error.

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "app_driver.h"

namespace {

HWND dialog = nullptr;

bool FindDialog(DWORD timeoutMs) {
    dialog = WaitForDialog(0, kMainCaption, timeoutMs);
    if (dialog == nullptr) {
        std::fprintf(stderr, "veltrane_drive: no \"%s\" dialog\n", kMainCaption);
    }
    return dialog != nullptr;
}

bool Close(DWORD timeoutMs) {
    PostMessageA(dialog, WM_CLOSE, 0, 0);
    const DWORD start = GetTickCount();
    while (IsWindow(dialog)) {
        if (GetTickCount() - start > timeoutMs) {
            std::fprintf(stderr, "veltrane_drive: the dialog did not close\n");
            return false;
        }
        Sleep(50);
    }
    return true;
}

bool ReportErrors() {
    DWORD processId = 0;
    GetWindowThreadProcessId(dialog, &processId);
    bool none = true;
    for (const MessageBoxInfo& box : OpenMessageBoxes(processId, dialog)) {
        std::printf("error box \"%s\": %s\n", box.caption.c_str(), box.text.c_str());
        none = false;
    }
    return none;
}

bool ReportCpu(DWORD intervalMs) {
    DWORD processId = 0;
    GetWindowThreadProcessId(dialog, &processId);
    const double guiBefore = ThreadCpuTimeMs(dialog);
    const double processBefore = ProcessCpuTimeMs(processId);
    Sleep(intervalMs);
    const double gui = ThreadCpuTimeMs(dialog) - guiBefore;
    const double process = ProcessCpuTimeMs(processId) - processBefore;
    if (guiBefore < 0 || intervalMs == 0) {
        return false;
    }
    std::printf("CPU over %lu ms: GUI thread %.1f%%, all threads %.1f%%\n", intervalMs, 100.0 * gui / intervalMs,
                100.0 * process / intervalMs);
    return true;
}

bool Run(const std::string& command, const char* argument) {
    if (command == "errors") {
        return dialog != nullptr || FindDialog(0) ? ReportErrors() : false;
    }
    if (argument == nullptr) {
        return false;
    }
    const unsigned long value = std::strtoul(argument, nullptr, 10);
    if (command == "wait") {
        return FindDialog(value * 1000);
    }
    if (command == "sleep") {
        Sleep(value);
        return true;
    }
    if (dialog == nullptr && !FindDialog(0)) {
        return false;
    }
    if (command == "click") {
        return Click(GetDlgItem(dialog, static_cast<int>(value)));
    }
    if (command == "text") {
        std::printf("%s\n", WindowText(GetDlgItem(dialog, static_cast<int>(value))).c_str());
        return true;
    }
    if (command == "close") {
        return Close(value * 1000);
    }
    if (command == "cpu") {
        return ReportCpu(value);
    }
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string command = argv[i];
        const char* argument = command == "errors" || i + 1 >= argc ? nullptr : argv[++i];
        if (!Run(command, argument)) {
            std::fprintf(stderr, "veltrane_drive: \"%s\" failed\n", command.c_str());
            return 1;
        }
        std::fflush(stdout);
    }
    return 0;
}
