// End-to-end tests: start the real Veltrane.exe and operate its dialog through window messages,
// as a user's clicks and keys would, then read back what it shows.

#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/maker_links.h"
#include "app/resource.h"
#include "app_driver.h"
#include "veltrane_test.h"

namespace {

enum class Kind { DigitsEdit, TextEdit, StatisticsBox, IpAddress, Label, GroupBox, CheckBox, Button, FlatButton };

struct ExpectedControl {
    int id;  // -1 for the labels and group boxes
    Kind kind;
    const char* text;  // the resource text; null for edits and address controls
    int x, y, cx, cy;  // dialog units
    bool visible;
};

// The dialog's controls in template (tab) order.
const ExpectedControl kControls[] = {
    {IDC_SOURCE_PORT, Kind::DigitsEdit, nullptr, 162, 38, 42, 12, true},
    {IDC_DESTINATION_ADDRESS, Kind::IpAddress, nullptr, 12, 68, 143, 12, true},
    {IDC_DESTINATION_PORT, Kind::DigitsEdit, nullptr, 162, 68, 42, 12, true},
    {-1, Kind::Label, "source port:", 116, 38, 44, 8, true},
    {-1, Kind::Label, "destination IP address:", 12, 56, 84, 8, true},
    {-1, Kind::Label, "destination port:", 154, 56, 60, 8, true},
    {-1, Kind::GroupBox, "UDP/IP sender", 6, 20, 582, 72, true},
    {IDC_ENABLE_SENDER, Kind::CheckBox, "enable sender", 12, 30, 66, 8, true},
    {-1, Kind::GroupBox, "UDP/IP receiver", 6, 92, 582, 248, true},
    {-1, Kind::Label, "receiver port:", 12, 140, 54, 8, true},
    {IDC_ENABLE_RECEIVER, Kind::CheckBox, "enable receiver", 12, 102, 66, 12, true},
    {IDC_RECEIVER_PORT, Kind::TextEdit, nullptr, 78, 140, 42, 12, true},
    {IDC_GRAPH_PLACEHOLDER, Kind::Label, "AV", 12, 200, 570, 132, false},
    {IDC_RECEIVER_STATISTICS, Kind::StatisticsBox, nullptr, 288, 98, 294, 96, true},
    {IDC_SENDER_PERIOD, Kind::DigitsEdit, nullptr, 384, 41, 42, 12, true},
    {-1, Kind::Label, "sender period (ms):", 252, 44, 72, 8, true},
    {-1, Kind::Label, "number of packets to send per period:", 252, 59, 126, 8, true},
    {IDC_PACKETS_PER_PERIOD, Kind::DigitsEdit, nullptr, 384, 56, 42, 12, true},
    {IDC_PACKET_SIZE, Kind::DigitsEdit, nullptr, 330, 74, 36, 12, true},
    {-1, Kind::Label, "packet size (bytes):", 252, 74, 72, 8, true},
    {IDC_RECEIVER_ADDRESS, Kind::IpAddress, nullptr, 78, 122, 144, 12, true},
    {-1, Kind::Label, "receiver address:", 12, 123, 60, 8, true},
    {IDC_RECEIVER_RESET, Kind::Button, "Reset statistics", 222, 182, 54, 12, true},
    {IDC_STOP_DISPLAY_TIMER, Kind::Button, "Stop display timer / display", 174, 152, 102, 18, false},
    {IDC_SENDER_BUFFER_SIZE, Kind::DigitsEdit, nullptr, 384, 26, 42, 12, true},
    {-1, Kind::Label, "sender buffer size (KB):", 252, 29, 80, 8, true},
    {IDC_SENDER_STATISTICS, Kind::StatisticsBox, nullptr, 432, 26, 150, 60, true},
    {IDC_SENDER_RESET, Kind::Button, "Reset statistics", 372, 74, 54, 12, true},
    {IDC_FEEDBACK_LINK, Kind::Button, "Report an issue or send feedback", 462, 6, 126, 12, true},
    {IDC_HOME_LINK, Kind::FlatButton, VELTRANE_MAKER_SITE "  - visit to get more tools for VoIP testing", 6, 6, 222, 12,
     true},
};

const char* ExpectedClass(Kind kind) {
    switch (kind) {
        case Kind::DigitsEdit:
        case Kind::TextEdit:
        case Kind::StatisticsBox:
            return "Edit";
        case Kind::IpAddress:
            return WC_IPADDRESSA;
        case Kind::Label:
            return "Static";
        default:
            return "Button";
    }
}

// Checks the style bits that make each kind of control behave as it should.
void ExpectStyle(const ExpectedControl& want, HWND control) {
    const LONG style = GetWindowLongA(control, GWL_STYLE);
    const bool tabStop = (style & WS_TABSTOP) != 0;
    // The dialog manager draws a template's WS_BORDER as a sunken client edge.
    const bool framed = (style & WS_BORDER) || (GetWindowLongA(control, GWL_EXSTYLE) & WS_EX_CLIENTEDGE);
    switch (want.kind) {
        case Kind::DigitsEdit:
        case Kind::TextEdit:
            EXPECT_TRUE(framed);
            EXPECT_TRUE(style & ES_AUTOHSCROLL);
            EXPECT_EQ((style & ES_NUMBER) != 0, want.kind == Kind::DigitsEdit);
            EXPECT_FALSE(style & (ES_MULTILINE | ES_READONLY));
            EXPECT_TRUE(tabStop);
            break;
        case Kind::StatisticsBox:
            EXPECT_EQ(style & (ES_MULTILINE | ES_READONLY), ES_MULTILINE | ES_READONLY);
            EXPECT_TRUE(framed);
            EXPECT_TRUE(tabStop);
            break;
        case Kind::IpAddress:
            EXPECT_TRUE(tabStop);
            break;
        case Kind::Label:
            EXPECT_EQ(style & SS_TYPEMASK, SS_LEFT);
            // Only the graph's placeholder is framed.
            EXPECT_EQ(framed, want.id == IDC_GRAPH_PLACEHOLDER);
            EXPECT_FALSE(tabStop);
            break;
        case Kind::GroupBox:
            EXPECT_EQ(style & BS_TYPEMASK, BS_GROUPBOX);
            EXPECT_FALSE(tabStop);
            break;
        case Kind::CheckBox:
            EXPECT_EQ(style & BS_TYPEMASK, BS_AUTOCHECKBOX);
            EXPECT_TRUE(tabStop);
            break;
        case Kind::Button:
        case Kind::FlatButton:
            // The dialog manager may mark a focused push button as the default one.
            EXPECT_TRUE((style & BS_TYPEMASK) == BS_PUSHBUTTON || (style & BS_TYPEMASK) == BS_DEFPUSHBUTTON);
            EXPECT_EQ((style & BS_FLAT) != 0, want.kind == Kind::FlatButton);
            EXPECT_TRUE(tabStop);
            break;
    }
    EXPECT_EQ((style & WS_VISIBLE) != 0, want.visible);
}

enum class Browsers { Disabled, WineUnguarded, MayOpen };

// Under Wine the link buttons start winebrowser, which hands the page to the host's browser.
// CTest starts the driver with winebrowser.exe disabled, so the program itself is tested as
// it is: its shell just finds nothing to open the page with.
Browsers BrowserGuard() {
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    if (ntdll == nullptr || GetProcAddress(ntdll, "wine_get_version") == nullptr) {
        return Browsers::MayOpen;
    }
    char overrides[1024] = {};
    GetEnvironmentVariableA("WINEDLLOVERRIDES", overrides, sizeof(overrides));
    return std::string(overrides).find("winebrowser.exe") != std::string::npos ? Browsers::Disabled
                                                                               : Browsers::WineUnguarded;
}

// Everything a user can see change in the dialog.
struct DialogState {
    std::vector<std::string> texts;
    std::vector<LRESULT> checks;
    std::vector<bool> enabled;
    bool operator==(const DialogState&) const = default;
};

DialogState StateOf(HWND dialog) {
    DialogState state;
    for (HWND child : DirectChildren(dialog)) {
        state.texts.push_back(WindowText(child));
        DWORD_PTR check = 0;
        SendMessageTimeoutA(child, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, 5000, &check);
        state.checks.push_back(static_cast<LRESULT>(check));
        state.enabled.push_back(IsWindowEnabled(child) != 0);
    }
    return state;
}

void PostKey(HWND target, WPARAM key) {
    PostMessageA(target, WM_KEYDOWN, key, 1);
    PostMessageA(target, WM_KEYUP, key, 0xC0000001);
}

TEST_F(VeltraneTest, DialogIsAFixedCentredWindowWithItsCaption) {
    EXPECT_EQ(WindowText(dialog_), "UDP/IP Veltrane");
    const LONG style = GetWindowLongA(dialog_, GWL_STYLE);
    EXPECT_EQ(style & (WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX),
              WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX);
    EXPECT_FALSE(style & (WS_THICKFRAME | WS_MAXIMIZEBOX));

    RECT window{}, workArea{};
    GetWindowRect(dialog_, &window);
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &workArea, 0);
    // Centred where it fits; on a screen smaller than the dialog the system puts it at the edge.
    if (window.right - window.left <= workArea.right - workArea.left) {
        EXPECT_NEAR(window.left + window.right, workArea.left + workArea.right, 2);
    }
    if (window.bottom - window.top <= workArea.bottom - workArea.top) {
        EXPECT_NEAR(window.top + window.bottom, workArea.top + workArea.bottom, 2);
    }
}

// The icon group 102 in the program file holds images of 32, 48 and 128 pixels.
TEST(VeltraneFile, CarriesItsIconInThreeSizes) {
    HMODULE file = LoadLibraryExA(programPath.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(file, nullptr);
    HRSRC group = FindResourceA(file, MAKEINTRESOURCEA(IDI_MAIN), MAKEINTRESOURCEA(14));  // RT_GROUP_ICON
    ASSERT_NE(group, nullptr);
    // GRPICONDIR: reserved, type, count (three WORDs), then 14-byte entries starting with width, height.
    const auto* bytes = static_cast<const BYTE*>(LockResource(LoadResource(file, group)));
    const int count = bytes[4] | (bytes[5] << 8);
    std::vector<int> sizes;
    for (int i = 0; i < count; ++i) {
        const BYTE* entry = bytes + 6 + 14 * i;
        EXPECT_EQ(entry[0], entry[1]);
        sizes.push_back(entry[0] == 0 ? 256 : entry[0]);
    }
    EXPECT_EQ(sizes, (std::vector<int>{32, 48, 128}));
    FreeLibrary(file);
}

TEST_F(VeltraneTest, DialogHasEveryControlInTabOrder) {
    // Dialog units to pixels as the dialog manager converts them (x by base width / 4, y by
    // base height / 8); the base units follow from the client area of 592 x 341 units.
    RECT client{};
    GetClientRect(dialog_, &client);
    const int baseX = MulDiv(client.right, 4, 592);
    const int baseY = MulDiv(client.bottom, 8, 341);
    EXPECT_EQ(client.right, MulDiv(592, baseX, 4));
    EXPECT_EQ(client.bottom, MulDiv(341, baseY, 8));

    // The graph, a window of its own over the placeholder, has tests of its own.
    std::vector<HWND> children = DirectChildren(dialog_);
    std::erase(children, FindChild(dialog_, "ArrayViewer"));
    ASSERT_EQ(children.size(), std::size(kControls));
    for (size_t i = 0; i < children.size(); ++i) {
        const ExpectedControl& want = kControls[i];
        HWND child = children[i];
        SCOPED_TRACE("control #" + std::to_string(i) + " (id " + std::to_string(want.id) + ")");
        EXPECT_EQ(GetDlgCtrlID(child), want.id);
        EXPECT_STRCASEEQ(ClassName(child).c_str(), ExpectedClass(want.kind));
        if (want.text != nullptr) {
            EXPECT_EQ(WindowText(child), want.text);
        }
        ExpectStyle(want, child);

        RECT r{};
        GetWindowRect(child, &r);
        MapWindowPoints(nullptr, dialog_, reinterpret_cast<POINT*>(&r), 2);
        EXPECT_EQ(r.left, MulDiv(want.x, baseX, 4));
        EXPECT_EQ(r.top, MulDiv(want.y, baseY, 8));
        EXPECT_EQ(r.right - r.left, MulDiv(want.cx, baseX, 4));
        EXPECT_EQ(r.bottom - r.top, MulDiv(want.cy, baseY, 8));
    }
}

TEST_F(VeltraneTest, StartsWithTheDefaultSettings) {
    EXPECT_EQ(Text(IDC_SOURCE_PORT), "13013");
    EXPECT_EQ(Text(IDC_DESTINATION_ADDRESS), "127.0.0.1");
    EXPECT_EQ(Text(IDC_DESTINATION_PORT), "13014");
    EXPECT_EQ(Text(IDC_SENDER_PERIOD), "10");
    EXPECT_EQ(Text(IDC_PACKETS_PER_PERIOD), "100");
    EXPECT_EQ(Text(IDC_PACKET_SIZE), "192");
    EXPECT_EQ(Text(IDC_SENDER_BUFFER_SIZE), "");
    EXPECT_EQ(Text(IDC_RECEIVER_PORT), "13014");
    EXPECT_EQ(Text(IDC_RECEIVER_ADDRESS), "0.0.0.0");
    EXPECT_EQ(Text(IDC_SENDER_STATISTICS), "");
    EXPECT_EQ(Text(IDC_RECEIVER_STATISTICS), "");
    for (int box : {IDC_ENABLE_SENDER, IDC_ENABLE_RECEIVER}) {
        EXPECT_EQ(SendMessageA(Control(box), BM_GETCHECK, 0, 0), BST_UNCHECKED);
    }
}

TEST_F(VeltraneTest, SettingsTakeTextsAndAddresses) {
    SendMessageA(Control(IDC_RECEIVER_PORT), WM_SETTEXT, 0, reinterpret_cast<LPARAM>("20000"));
    SendMessageA(Control(IDC_DESTINATION_ADDRESS), IPM_SETADDRESS, 0, MAKEIPADDRESS(192, 168, 1, 20));
    EXPECT_EQ(Text(IDC_RECEIVER_PORT), "20000");
    EXPECT_EQ(Text(IDC_DESTINATION_ADDRESS), "192.168.1.20");

    // Typed letters reach the receiver port (any characters) but not the digits-only fields.
    for (int id : {IDC_RECEIVER_PORT, IDC_SOURCE_PORT, IDC_PACKET_SIZE}) {
        PostMessageA(Control(id), WM_CHAR, 'x', 1);
    }
    ASSERT_TRUE(Synchronise(dialog_));
    EXPECT_EQ(Text(IDC_RECEIVER_PORT).find('x') != std::string::npos, true);
    EXPECT_EQ(Text(IDC_SOURCE_PORT).find('x'), std::string::npos);
    EXPECT_EQ(Text(IDC_PACKET_SIZE).find('x'), std::string::npos);
}

TEST_F(VeltraneTest, EnterAndEscapeLeaveTheDialogOpen) {
    const DialogState before = StateOf(dialog_);
    // The keys as the dialog manager sees them in the focused edit, and the commands it makes of them.
    for (int id : {IDC_SOURCE_PORT, IDC_RECEIVER_STATISTICS, IDC_HOME_LINK}) {
        PostKey(Control(id), VK_RETURN);
        PostKey(Control(id), VK_ESCAPE);
    }
    PostMessageA(dialog_, WM_COMMAND, IDOK, 0);
    PostMessageA(dialog_, WM_COMMAND, IDCANCEL, 0);
    ASSERT_TRUE(Synchronise(dialog_));
    Sleep(300);

    EXPECT_EQ(program_->ExitCode(), STILL_ACTIVE);
    EXPECT_TRUE(IsWindow(dialog_) && IsWindowVisible(dialog_));
    EXPECT_EQ(StateOf(dialog_), before);
}

TEST_F(VeltraneTest, LinkButtonsChangeNothingInTheDialog) {
    switch (BrowserGuard()) {
        case Browsers::MayOpen:
            GTEST_SKIP() << "on Windows the clicks would open the maker's pages in a browser";
        case Browsers::WineUnguarded:
            FAIL() << "run through CTest, which disables winebrowser.exe (WINEDLLOVERRIDES), so that no browser opens";
        case Browsers::Disabled:
            break;
    }
    const DialogState before = StateOf(dialog_);
    ASSERT_TRUE(Click(Control(IDC_FEEDBACK_LINK)));
    ASSERT_TRUE(Click(Control(IDC_HOME_LINK)));
    Sleep(500);
    ASSERT_TRUE(Synchronise(dialog_));
    EXPECT_EQ(StateOf(dialog_), before);
    EXPECT_EQ(program_->ExitCode(), STILL_ACTIVE);
}

TEST_F(VeltraneTest, CloseEndsTheProgramWithExitCodeZero) {
    closed_ = true;
    ASSERT_TRUE(PostMessageA(dialog_, WM_CLOSE, 0, 0));
    ASSERT_TRUE(program_->WaitForExit(2000));
    EXPECT_EQ(program_->ExitCode(), 0u);
}

}  // namespace
