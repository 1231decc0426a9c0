#include "app_driver.h"

#include <commctrl.h>
#include <tlhelp32.h>

#include <stdexcept>

namespace {

// Every cross-process call has a bound, so that a hung program fails the run instead of hanging it.
constexpr UINT kReplyTimeoutMs = 10000;
constexpr DWORD kPollMs = 50;

// A job that kills its processes when the driver lets go of it, even if the driver dies.
OwnedKernelHandle NewKillOnCloseJob() {
    OwnedKernelHandle job(CreateJobObjectA(nullptr, nullptr));
    if (job.Valid()) {
        JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
        limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
        SetInformationJobObject(job.Get(), JobObjectExtendedLimitInformation, &limits, sizeof(limits));
    }
    return job;
}

struct DialogSearch {
    DWORD processId;
    const char* caption;
    HWND found;
};

BOOL CALLBACK MatchDialog(HWND window, LPARAM lParam) {
    auto* search = reinterpret_cast<DialogSearch*>(lParam);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if ((search->processId == 0 || owner == search->processId) && IsWindowVisible(window) &&
        ClassName(window) == "#32770" && WindowText(window) == search->caption) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

struct BoxSearch {
    DWORD processId;
    HWND mainDialog;
    std::vector<MessageBoxInfo> boxes;
};

BOOL CALLBACK CollectBox(HWND window, LPARAM lParam) {
    auto* search = reinterpret_cast<BoxSearch*>(lParam);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search->processId || window == search->mainDialog || !IsWindowVisible(window) ||
        ClassName(window) != "#32770") {
        return TRUE;
    }
    MessageBoxInfo box{window, WindowText(window), {}};
    // The message is the box's one static with text (the icon is a static without).
    for (HWND child : DirectChildren(window)) {
        if (ClassName(child) == "Static" && !WindowText(child).empty()) {
            box.text = WindowText(child);
        }
    }
    search->boxes.push_back(box);
    return TRUE;
}

// A duration in FILETIME units (100 ns) as milliseconds.
double FileTimeMs(const FILETIME& time) {
    ULARGE_INTEGER value;
    value.LowPart = time.dwLowDateTime;
    value.HighPart = time.dwHighDateTime;
    return static_cast<double>(value.QuadPart) / 10000.0;
}

double CpuTimeOfThreadMs(DWORD threadId) {
    OwnedKernelHandle thread(OpenThread(THREAD_QUERY_INFORMATION, FALSE, threadId));
    FILETIME creation, exit, kernel, user;
    if (!thread.Valid() || !GetThreadTimes(thread.Get(), &creation, &exit, &kernel, &user)) {
        return -1;
    }
    return FileTimeMs(kernel) + FileTimeMs(user);
}

}  // namespace

ChildProcess::ChildProcess(const std::string& program) : job_(NewKillOnCloseJob()) {
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    std::string commandLine = "\"" + program + "\"";
    if (!CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                        nullptr, &startup, &info)) {
        throw std::runtime_error("cannot start " + program + ", error " + std::to_string(GetLastError()));
    }
    process_.Reset(info.hProcess);
    OwnedKernelHandle thread(info.hThread);
    id_ = info.dwProcessId;
    if (job_.Valid()) {
        AssignProcessToJobObject(job_.Get(), process_.Get());
    }
    ResumeThread(thread.Get());
}

ChildProcess::~ChildProcess() {
    Kill();
}

bool ChildProcess::WaitForExit(DWORD timeoutMs) {
    return WaitForSingleObject(process_.Get(), timeoutMs) == WAIT_OBJECT_0;
}

DWORD ChildProcess::ExitCode() const {
    DWORD code = 0;
    if (!GetExitCodeProcess(process_.Get(), &code)) {
        return STILL_ACTIVE;
    }
    return code;
}

void ChildProcess::Kill() {
    if (process_.Valid() && ExitCode() == STILL_ACTIVE) {
        TerminateProcess(process_.Get(), 1);
        WaitForExit(5000);
    }
}

std::string WindowsPath(const std::string& path) {
    if (path.empty() || path[0] != '/') {
        return path;
    }
    std::string result = "Z:" + path;
    for (char& c : result) {
        if (c == '/') {
            c = '\\';
        }
    }
    return result;
}

HWND WaitForDialog(DWORD processId, const char* caption, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    do {
        DialogSearch search{processId, caption, nullptr};
        EnumWindows(MatchDialog, reinterpret_cast<LPARAM>(&search));
        if (search.found != nullptr && Synchronise(search.found)) {
            return search.found;
        }
        Sleep(kPollMs);
    } while (GetTickCount() - start < timeoutMs);
    return nullptr;
}

std::vector<MessageBoxInfo> OpenMessageBoxes(DWORD processId, HWND mainDialog) {
    BoxSearch search{processId, mainDialog, {}};
    EnumWindows(CollectBox, reinterpret_cast<LPARAM>(&search));
    return search.boxes;
}

bool Synchronise(HWND window) {
    DWORD_PTR result = 0;
    return SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, kReplyTimeoutMs, &result) != 0;
}

std::string WindowText(HWND window) {
    char text[1024] = {};
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutA(window, WM_GETTEXT, sizeof(text), reinterpret_cast<LPARAM>(text), SMTO_ABORTIFHUNG,
                             kReplyTimeoutMs, &length)) {
        return {};
    }
    return std::string(text, length < sizeof(text) ? length : sizeof(text) - 1);
}

std::string ClassName(HWND window) {
    char name[256] = {};
    const int length = GetClassNameA(window, name, sizeof(name));
    return std::string(name, length > 0 ? length : 0);
}

std::vector<HWND> DirectChildren(HWND parent) {
    std::vector<HWND> children;
    for (HWND child = GetWindow(parent, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        children.push_back(child);
    }
    return children;
}

bool Click(HWND control) {
    DWORD_PTR result = 0;
    return SendMessageTimeoutA(control, BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, kReplyTimeoutMs, &result) != 0 &&
           Synchronise(GetParent(control));
}

void PostClick(HWND control) {
    PostMessageA(control, BM_CLICK, 0, 0);
}

bool SetText(HWND control, const std::string& text) {
    DWORD_PTR result = 0;
    return SendMessageTimeoutA(control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), SMTO_ABORTIFHUNG,
                               kReplyTimeoutMs, &result) != 0 &&
           result == TRUE;
}

bool SetAddress(HWND control, DWORD hostOrderAddress) {
    DWORD_PTR result = 0;
    return SendMessageTimeoutA(control, IPM_SETADDRESS, 0, static_cast<LPARAM>(hostOrderAddress), SMTO_ABORTIFHUNG,
                               kReplyTimeoutMs, &result) != 0;
}

bool IsChecked(HWND checkBox) {
    DWORD_PTR check = 0;
    SendMessageTimeoutA(checkBox, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, kReplyTimeoutMs, &check);
    return check == BST_CHECKED;
}

std::string WaitForText(HWND control, bool (*accept)(const std::string&), DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    std::string text = WindowText(control);
    while (!accept(text) && GetTickCount() - start < timeoutMs) {
        Sleep(kPollMs);
        text = WindowText(control);
    }
    return text;
}

std::vector<MessageBoxInfo> WaitForMessageBoxes(DWORD processId, HWND mainDialog, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    for (;;) {
        std::vector<MessageBoxInfo> boxes = OpenMessageBoxes(processId, mainDialog);
        if (!boxes.empty() || GetTickCount() - start >= timeoutMs) {
            return boxes;
        }
        Sleep(kPollMs);
    }
}

bool DismissMessageBox(HWND box) {
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    const DWORD start = GetTickCount();
    while (IsWindow(box)) {
        if (GetTickCount() - start > kReplyTimeoutMs) {
            return false;
        }
        Sleep(kPollMs);
    }
    return true;
}

HWND FindChild(HWND parent, const std::string& text) {
    for (HWND child : DirectChildren(parent)) {
        if (WindowText(child) == text) {
            return child;
        }
    }
    return nullptr;
}

HWND FocusOfThread(HWND window) {
    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info)) {
        return nullptr;
    }
    return info.hwndFocus;
}

double ThreadCpuTimeMs(HWND window) {
    return CpuTimeOfThreadMs(GetWindowThreadProcessId(window, nullptr));
}

// Wine answers GetProcessTimes for another process with zeros, but reads thread times.
double ProcessCpuTimeMs(DWORD processId) {
    OwnedKernelHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
    if (snapshot.Get() == INVALID_HANDLE_VALUE) {
        snapshot.Release();
        return -1;
    }
    double total = 0;
    THREADENTRY32 entry{};
    entry.dwSize = sizeof(entry);
    for (BOOL more = Thread32First(snapshot.Get(), &entry); more; more = Thread32Next(snapshot.Get(), &entry)) {
        if (entry.th32OwnerProcessID == processId) {
            const double ms = CpuTimeOfThreadMs(entry.th32ThreadID);
            total += ms > 0 ? ms : 0;
        }
    }
    return total;
}
