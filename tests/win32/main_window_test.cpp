// The main dialog in this process, driven from the test thread through window messages, with
// the faults that the program cannot provoke on purpose put in through its seams.

#include "app/main_window.h"

#include <commctrl.h>

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "app/resource.h"
#include "app_driver.h"
#include "base/errors.h"
#include "measure/sender_statistics.h"
#include "measure/worker_thread.h"
#include "udp_probe.h"

namespace {

constexpr DWORD kBoxTimeoutMs = 10000;

// A clock whose first reading waits until the test lets it go: a worker that reads it never
// ends by itself.
class StuckClock final : public Clock {
  public:
    int64_t Counter() override {
        std::unique_lock<std::mutex> lock(mutex_);
        released_.wait(lock, [this] { return free_; });
        return QueryCounter();
    }
    int64_t Frequency() override { return QueryCounterFrequency(); }
    void Release() {
        std::lock_guard<std::mutex> lock(mutex_);
        free_ = true;
        released_.notify_all();
    }

  private:
    std::mutex mutex_;
    std::condition_variable released_;
    bool free_ = false;
};

class MainWindowTest : public testing::Test {
  protected:
    void Open(MainWindowSeams seams) {
        INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_INTERNET_CLASSES};
        InitCommonControlsEx(&controls);
        window_ = std::make_unique<MainWindow>(GetModuleHandleA(nullptr), std::move(seams));
        gui_ = std::thread([this] {
            window_->RunModal(GetModuleHandleA(nullptr), IDD_MAIN, nullptr);
            ended_.store(true);
        });
        dialog_ = WaitForDialog(GetCurrentProcessId(), kMainCaption, kBoxTimeoutMs);
        ASSERT_NE(dialog_, nullptr);
        const uint16_t port = FreeUdpPort();
        ASSERT_TRUE(SetAddress(Control(IDC_RECEIVER_ADDRESS), 0x7F000001));
        ASSERT_TRUE(SetText(Control(IDC_RECEIVER_PORT), std::to_string(port)));
        ASSERT_TRUE(SetText(Control(IDC_DESTINATION_PORT), std::to_string(port)));
    }

    // Closes the dialog and expects it to end within `timeoutMs`; the workers are then set
    // free, so that the MainWindow can go.
    void CloseWithin(DWORD timeoutMs) {
        PostMessageA(dialog_, WM_CLOSE, 0, 0);
        const DWORD start = GetTickCount();
        while (!ended_.load() && GetTickCount() - start < timeoutMs) {
            Sleep(20);
        }
        EXPECT_TRUE(ended_.load()) << "the dialog did not end";
        clock_.Release();
        for (const MessageBoxInfo& box : OpenMessageBoxes(GetCurrentProcessId(), dialog_)) {
            DismissMessageBox(box.window);
        }
        gui_.join();
        window_.reset();
        dialog_ = nullptr;
    }

    void TearDown() override {
        if (dialog_ != nullptr) {
            CloseWithin(20000);
        }
    }

    HWND Control(int id) const { return GetDlgItem(dialog_, id); }
    bool Enabled(int id) const { return IsWindowEnabled(Control(id)) != 0; }

    // The message of the one box shown now, waiting up to `timeoutMs` for it; the box is
    // dismissed unless `keep`.
    std::string OnlyBox(DWORD timeoutMs, bool keep = false) {
        const std::vector<MessageBoxInfo> boxes = WaitForMessageBoxes(GetCurrentProcessId(), dialog_, timeoutMs);
        EXPECT_EQ(boxes.size(), 1u);
        if (boxes.empty()) {
            return {};
        }
        if (!keep) {
            EXPECT_TRUE(DismissMessageBox(boxes.front().window));
        }
        // The message, then CR LF and the details, which these errors have none of.
        const std::string& text = boxes.front().text;
        return text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") == 0 ? text.substr(0, text.size() - 2)
                                                                                 : text;
    }

    size_t BoxCount() const { return OpenMessageBoxes(GetCurrentProcessId(), dialog_).size(); }

    // A WM_COMMAND for a check box without a click, as another program may send one.
    void SendBareCommand(int id) {
        SendMessageA(dialog_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(Control(id)));
    }

    StuckClock clock_;
    std::unique_ptr<MainWindow> window_;
    std::thread gui_;
    std::atomic<bool> ended_{false};
    HWND dialog_ = nullptr;
};

// A worker thread that cannot be created is reported, and nothing counts as running: the check
// box is clear, the settings enabled, and the receiver's display timer never ran.
TEST_F(MainWindowTest, AWorkerThreadThatCannotBeCreatedIsReported) {
    Open({});
    const WorkerThread::ThreadStarter standard =
        WorkerThread::SetThreadStarter([](std::function<void()>) -> std::thread {
            throw std::system_error(std::make_error_code(std::errc::resource_unavailable_try_again));
        });
    PostClick(Control(IDC_ENABLE_SENDER));
    EXPECT_EQ(OnlyBox(kBoxTimeoutMs),
              "error in MainWindow::StartSenderThread: CreateThread failed\r\nfile: winmain\r\nline: 238");
    PostClick(Control(IDC_ENABLE_RECEIVER));
    EXPECT_EQ(OnlyBox(kBoxTimeoutMs),
              "error in MainWindow::StartReceiverThread: CreateThread failed\r\nfile: winmain\r\nline: 437");
    WorkerThread::SetThreadStarter(standard);
    Sleep(200);
    for (int id : {IDC_ENABLE_SENDER, IDC_ENABLE_RECEIVER}) {
        EXPECT_FALSE(IsChecked(Control(id)));
    }
    for (int id : {IDC_PACKET_SIZE, IDC_RECEIVER_PORT}) {
        EXPECT_TRUE(Enabled(id));
    }
    EXPECT_EQ(WindowText(Control(IDC_RECEIVER_STATISTICS)), "");
}

// A stop gives up on a worker that never ends: the GUI thread is free again after the bound,
// with the box, the check box clear and the settings enabled. Commands sent during the wait
// leave the check boxes as the wait found them. Closing gives up the same way.
TEST_F(MainWindowTest, StopsOfWorkersThatNeverEndFreeTheDialog) {
    MainWindowSeams seams;
    seams.clock = &clock_;
    Open(std::move(seams));
    ASSERT_TRUE(Click(Control(IDC_ENABLE_SENDER)));
    ASSERT_TRUE(Click(Control(IDC_ENABLE_RECEIVER)));
    ASSERT_FALSE(Enabled(IDC_PACKET_SIZE));

    DWORD start = GetTickCount();
    PostClick(Control(IDC_ENABLE_SENDER));
    Sleep(300);
    SendBareCommand(IDC_ENABLE_RECEIVER);
    SendBareCommand(IDC_ENABLE_SENDER);
    EXPECT_TRUE(IsChecked(Control(IDC_ENABLE_RECEIVER)));
    EXPECT_FALSE(IsChecked(Control(IDC_ENABLE_SENDER)));
    EXPECT_EQ(OnlyBox(kBoxTimeoutMs, true),
              "error in MainWindow::StopSenderThread: thread did not stop\r\nfile: winmain\r\nline: 246");
    EXPECT_LT(GetTickCount() - start, 3500u);
    EXPECT_FALSE(IsChecked(Control(IDC_ENABLE_SENDER)));
    EXPECT_TRUE(Enabled(IDC_PACKET_SIZE));
    EXPECT_TRUE(Enabled(IDC_DESTINATION_PORT));
    OnlyBox(0);

    start = GetTickCount();
    PostClick(Control(IDC_ENABLE_RECEIVER));
    EXPECT_EQ(OnlyBox(kBoxTimeoutMs, true),
              "error in MainWindow::StopReceiverThread: thread did not stop\r\nfile: winmain\r\nline: 446");
    EXPECT_LT(GetTickCount() - start, 4500u);
    EXPECT_FALSE(IsChecked(Control(IDC_ENABLE_RECEIVER)));
    EXPECT_TRUE(Enabled(IDC_RECEIVER_PORT));
    OnlyBox(0);

    // Each worker's stop gives up once more; no box, since nobody asked.
    CloseWithin(9000);
}

// A display of the receiver's statistics that fails shows one box at a time: the display
// timer waits while the box is open and runs again once it is dismissed.
TEST_F(MainWindowTest, AFailingDisplayShowsOneBoxAtATime) {
    std::atomic<bool> fail{true};
    MainWindowSeams seams;
    seams.beforeReceiverDisplay = [&fail] {
        if (fail.load()) {
            ThrowFixed("display failed");
        }
    };
    Open(std::move(seams));
    ASSERT_TRUE(Click(Control(IDC_ENABLE_RECEIVER)));
    EXPECT_EQ(OnlyBox(kBoxTimeoutMs, true), "display failed");
    Sleep(300);
    EXPECT_EQ(BoxCount(), 1u);
    OnlyBox(0);
    fail.store(false);
    // The timer runs again: the next tick shows the statistics.
    EXPECT_NE(WaitForText(
                  Control(IDC_RECEIVER_STATISTICS), [](const std::string& text) { return !text.empty(); }, 2000),
              "");
    EXPECT_EQ(BoxCount(), 0u);
    ASSERT_TRUE(Click(Control(IDC_ENABLE_RECEIVER)));
}

// A sender that ended by an error still counts as not stopped: its reset shows the zero record.
TEST_F(MainWindowTest, ResetAfterTheSendersErrorShowsTheZeroRecord) {
    Open({});
    // Port 0 makes every send fail.
    ASSERT_TRUE(SetText(Control(IDC_DESTINATION_PORT), "0"));
    ASSERT_TRUE(Click(Control(IDC_ENABLE_SENDER)));
    EXPECT_NE(OnlyBox(kBoxTimeoutMs).find("WSASendTo failed"), std::string::npos);
    Sleep(300);
    ASSERT_TRUE(Click(Control(IDC_SENDER_RESET)));
    EXPECT_EQ(WaitForText(
                  Control(IDC_SENDER_STATISTICS), [](const std::string& text) { return !text.empty(); }, 2000),
              SenderStatisticsText(SenderStatistics{}, 192));
}

// A reset carried out while the sender's text is on its way (after the sender looked for a
// reset, before its text went into the mailbox) still has the last word: its zero record.
TEST_F(MainWindowTest, AResetWhileASenderTextIsOnItsWayIsShownLast) {
    std::atomic<bool> armed{true};
    MainWindowSeams seams;
    seams.beforeSenderText = [&armed, this] {
        if (armed.exchange(false)) {
            SendMessageA(dialog_, WM_COMMAND, MAKEWPARAM(IDC_SENDER_RESET, BN_CLICKED),
                         reinterpret_cast<LPARAM>(Control(IDC_SENDER_RESET)));
        }
    };
    Open(std::move(seams));
    ASSERT_TRUE(SetText(Control(IDC_SENDER_PERIOD), "1000"));
    ASSERT_TRUE(SetText(Control(IDC_PACKETS_PER_PERIOD), "1"));
    ASSERT_TRUE(Click(Control(IDC_ENABLE_SENDER)));
    WaitForText(
        Control(IDC_SENDER_STATISTICS), [](const std::string& text) { return !text.empty(); }, 5000);
    Sleep(300);
    EXPECT_FALSE(armed.load());
    EXPECT_EQ(WindowText(Control(IDC_SENDER_STATISTICS)), SenderStatisticsText(SenderStatistics{}, 192));
    ASSERT_TRUE(Click(Control(IDC_ENABLE_SENDER)));
}

}  // namespace
