#include "app/main_window.h"

#include <commctrl.h>
#include <shellapi.h>

#include <string>

#include "app/escape_filter.h"
#include "app/resource.h"
#include "base/maker_links.h"

namespace {

// The address 127.0.0.1 in host order, the sender's default destination.
constexpr LPARAM kLoopbackAddress = 0x7F000001;

void OpenPage(HWND owner, const std::string& url) {
    // Errors are not reported: without a browser the click simply does nothing.
    ShellExecuteA(owner, "open", url.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

}  // namespace

MainWindow::MainWindow(HINSTANCE instance) : instance_(instance) {}

// Every message ends with result 0, so the dialog manager's default handling applies to
// all of them. Errors that a case lets escape are shown by the Dialog base.
INT_PTR MainWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            OnInitDialog();
            break;
        case WM_COMMAND:
            OnCommand(LOWORD(wParam), HIWORD(wParam));
            break;
        case WM_CLOSE:
            OnClose();
            break;
        default:
            break;
    }
    return 0;
}

// Called once when the dialog has been created, before it is shown.
void MainWindow::OnInitDialog() {
    SetIcons();
    SetDefaultSettings();
    // Escape in a focused statistics box would close the dialog.
    IgnoreEscapeKey(GetDlgItem(hwnd, IDC_SENDER_STATISTICS));
    IgnoreEscapeKey(GetDlgItem(hwnd, IDC_RECEIVER_STATISTICS));
}

// Called for every command of a control or the keyboard. Commands without a case, among
// them IDOK and IDCANCEL from Enter and Escape, are ignored, so the dialog stays open.
void MainWindow::OnCommand(int id, int notification) {
    switch (id) {
        case IDC_FEEDBACK_LINK:
            OpenFeedbackPage();
            break;
        case IDC_HOME_LINK:
            OpenHomePage();
            break;
        default:
            break;
    }
}

// Called just before the Dialog base ends the dialog (close button, system menu, Alt+F4).
void MainWindow::OnClose() {}

void MainWindow::SetIcons() {
    // Loaded at the sizes the system asks for, from the 32, 48 and 128 px images.
    const auto load = [this](int widthMetric, int heightMetric) {
        return OwnedIcon(
            static_cast<HICON>(LoadImageA(instance_, MAKEINTRESOURCEA(IDI_MAIN), IMAGE_ICON,
                                          GetSystemMetrics(widthMetric), GetSystemMetrics(heightMetric), 0)));
    };
    smallIcon_ = load(SM_CXSMICON, SM_CYSMICON);
    bigIcon_ = load(SM_CXICON, SM_CYICON);
    SendMessageA(hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon_.Get()));
    SendMessageA(hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon_.Get()));
}

void MainWindow::SetDefaultSettings() {
    SetDlgItemTextA(hwnd, IDC_RECEIVER_PORT, "13014");
    SetDlgItemTextA(hwnd, IDC_DESTINATION_PORT, "13014");
    SetDlgItemTextA(hwnd, IDC_SOURCE_PORT, "13013");
    SetDlgItemTextA(hwnd, IDC_SENDER_PERIOD, "10");
    SetDlgItemTextA(hwnd, IDC_PACKETS_PER_PERIOD, "100");
    SetDlgItemTextA(hwnd, IDC_PACKET_SIZE, "192");
    // The sender buffer size stays empty: the system's own size.
    SendDlgItemMessageA(hwnd, IDC_DESTINATION_ADDRESS, IPM_SETADDRESS, 0, kLoopbackAddress);
    // 0.0.0.0: the receiver listens on every local interface.
    SendDlgItemMessageA(hwnd, IDC_RECEIVER_ADDRESS, IPM_SETADDRESS, 0, 0);
}

void MainWindow::OpenFeedbackPage() {
    OpenPage(hwnd, FeedbackPageUrl());
}

void MainWindow::OpenHomePage() {
    OpenPage(hwnd, HomePageUrl());
}
