// End-to-end tests of measuring: the real Veltrane.exe sends and receives on 127.0.0.1, alone
// or with a second instance, and shows its statistics and errors.

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "app/resource.h"
#include "app_driver.h"
#include "measure/receiver_statistics.h"
#include "measure/sender_statistics.h"
#include "measure/test_packet.h"
#include "udp_probe.h"
#include "veltrane_test.h"

namespace {

constexpr int kSenderSettings[] = {IDC_SOURCE_PORT,        IDC_DESTINATION_ADDRESS, IDC_DESTINATION_PORT,
                                   IDC_SENDER_BUFFER_SIZE, IDC_SENDER_PERIOD,       IDC_PACKETS_PER_PERIOD,
                                   IDC_PACKET_SIZE};
constexpr int kReceiverSettings[] = {IDC_RECEIVER_ADDRESS, IDC_RECEIVER_PORT};
constexpr DWORD kBoxTimeoutMs = 10000;
constexpr DWORD kTrafficTimeoutMs = 10000;
// Loop-back loses nothing by itself, but a busy machine may overflow the receiver's socket
// buffer now and then (each lost group counts, not each packet).
constexpr double kLossTolerancePercent = 10.0;

// The bytes the receiver box reports ("received %i MB %i bytes").
double ReceivedBytes(const std::string& text) {
    return NumberAfter(text, "received ") * 1048576.0 + NumberAfter(text, " MB ");
}

bool ShowsReceivedBytes(const std::string& text) {
    return ReceivedBytes(text) > 0;
}

bool HasText(const std::string& text) {
    return !text.empty();
}

bool StartsWith(const std::string& text, const std::string& start) {
    return text.compare(0, start.size(), start) == 0;
}

// The settings of one side are enabled exactly when `enabled`.
template <size_t N>
void ExpectEnabled(HWND dialog, const int (&ids)[N], bool enabled) {
    for (int id : ids) {
        EXPECT_EQ(IsWindowEnabled(GetDlgItem(dialog, id)) != 0, enabled) << "control " << id;
    }
}

// What a loop-back run of about three seconds with the default traffic shows: 100 packets of
// 192 bytes every 10 ms.
TEST_F(VeltraneTest, LoopbackRunShowsTheTrafficOnBothSides) {
    const uint16_t port = FreeUdpPort();
    UseLoopback(port, port);
    ASSERT_TRUE(Click(Control(IDC_ENABLE_RECEIVER)));
    ExpectEnabled(dialog_, kReceiverSettings, false);
    ExpectEnabled(dialog_, kSenderSettings, true);
    ASSERT_TRUE(Click(Control(IDC_ENABLE_SENDER)));
    ExpectEnabled(dialog_, kSenderSettings, false);
    for (int id : {IDC_ENABLE_SENDER, IDC_SENDER_RESET, IDC_SENDER_STATISTICS}) {
        EXPECT_TRUE(IsWindowEnabled(Control(id)));
    }
    Sleep(3000);
    ASSERT_TRUE(Click(Control(IDC_ENABLE_SENDER)));
    ExpectEnabled(dialog_, kSenderSettings, true);
    ASSERT_TRUE(Click(Control(IDC_ENABLE_RECEIVER)));
    ExpectEnabled(dialog_, kReceiverSettings, true);
    const std::string sender = Text(IDC_SENDER_STATISTICS);
    const std::string receiver = Text(IDC_RECEIVER_STATISTICS);
    // Both boxes keep their last texts.
    Sleep(300);
    EXPECT_EQ(Text(IDC_SENDER_STATISTICS), sender);
    EXPECT_EQ(Text(IDC_RECEIVER_STATISTICS), receiver);

    SCOPED_TRACE(sender + "\n" + receiver);
    EXPECT_TRUE(StartsWith(receiver, "receiver statistics:\r\nreceived "));
    EXPECT_GT(ReceivedBytes(receiver), 0);
    EXPECT_NEAR(NumberAfter(receiver, "lost packets: "), 0.0, kLossTolerancePercent);

    // One group per cycle of group time, period and whatever the sleep adds: never more than
    // one group per period, and not less than half of one per period plus the slowest group.
    EXPECT_TRUE(StartsWith(sender, "sender statistics:\r\nbandwidth="));
    const double groupKB = 100 * 192 / 1024.0;
    const double bandwidth = NumberAfter(sender, "bandwidth=");
    const double slowestGroupMs = NumberAfter(sender, "maxSendGroupDelay = ");
    EXPECT_LE(bandwidth, groupKB / 0.010 * 1.02);
    EXPECT_GE(bandwidth, 0.5 * groupKB / ((10 + slowestGroupMs) / 1000.0));
    EXPECT_GT(NumberAfter(sender, "duration = "), 2.0);
}

TEST_F(VeltraneTest, OneInstanceSendsToAnotherThatOnlyReceives) {
    ChildProcess receiving(programPath);
    HWND other = WaitForDialog(receiving.Id(), kMainCaption, kStartTimeoutMs);
    ASSERT_NE(other, nullptr);
    const uint16_t port = FreeUdpPort();
    ASSERT_TRUE(SetAddress(GetDlgItem(other, IDC_RECEIVER_ADDRESS), 0x7F000001));
    ASSERT_TRUE(SetText(GetDlgItem(other, IDC_RECEIVER_PORT), std::to_string(port)));
    ASSERT_TRUE(Click(GetDlgItem(other, IDC_ENABLE_RECEIVER)));
    UseLoopback(FreeUdpPort(), port);
    ASSERT_TRUE(Click(Control(IDC_ENABLE_SENDER)));

    WaitForText(GetDlgItem(other, IDC_RECEIVER_STATISTICS), ShowsReceivedBytes, kTrafficTimeoutMs);
    Sleep(3000);
    const std::string received = WindowText(GetDlgItem(other, IDC_RECEIVER_STATISTICS));
    SCOPED_TRACE(received);
    EXPECT_GT(ReceivedBytes(received), 0);
    EXPECT_NEAR(NumberAfter(received, "lost packets: "), 0.0, kLossTolerancePercent);
    EXPECT_GT(NumberAfter(Text(IDC_SENDER_STATISTICS), "bandwidth="), 0);
    // Each instance shows only the side it runs.
    EXPECT_EQ(Text(IDC_RECEIVER_STATISTICS), "");
    EXPECT_EQ(WindowText(GetDlgItem(other, IDC_SENDER_STATISTICS)), "");

    CloseAndExpectExitCodeZero(10000);
    EXPECT_TRUE(OpenMessageBoxes(receiving.Id(), other).empty());
    ASSERT_TRUE(PostMessageA(other, WM_CLOSE, 0, 0));
    ASSERT_TRUE(receiving.WaitForExit(10000));
    EXPECT_EQ(receiving.ExitCode(), 0u);
}

// The receiver thread reports the failed bind itself and ends; the box stays checked, so the
// next uncheck finds no thread. A check and uncheck after that work as usual.
TEST_F(VeltraneTest, ReceiverOnAPortInUseReportsTheBindAndThenTheStop) {
    auto holder = std::make_unique<UdpProbe>();
    ASSERT_TRUE(holder->Valid());
    UseLoopback(holder->Port(), holder->Port());
    ASSERT_TRUE(Click(Control(IDC_ENABLE_RECEIVER)));
    MessageBoxInfo box = OnlyMessageBox(kBoxTimeoutMs);
    EXPECT_TRUE(
        StartsWith(box.text, "error in MainWindow::ReceiverThreadEntry: bind failed\r\nfile: winmain\r\nline: 530"))
        << box.text;
    EXPECT_TRUE(IsChecked(Control(IDC_ENABLE_RECEIVER)));
    ExpectEnabled(dialog_, kReceiverSettings, false);
    ASSERT_TRUE(DismissMessageBox(box.window));
    // The thread ends right after its box.
    Sleep(300);

    // The error is shown by the dialog's own handler, in a modal box: the click must not wait.
    PostClick(Control(IDC_ENABLE_RECEIVER));
    box = OnlyMessageBox(kBoxTimeoutMs);
    EXPECT_TRUE(StartsWith(
        box.text, "error in MainWindow::StopReceiverThread: thread was not started\r\nfile: winmain\r\nline: 445"))
        << box.text;
    ASSERT_TRUE(DismissMessageBox(box.window));
    ASSERT_TRUE(Synchronise(dialog_));
    EXPECT_FALSE(IsChecked(Control(IDC_ENABLE_RECEIVER)));
    ExpectEnabled(dialog_, kReceiverSettings, false);

    holder.reset();
    ASSERT_TRUE(Click(Control(IDC_ENABLE_RECEIVER)));
    ASSERT_TRUE(Click(Control(IDC_ENABLE_RECEIVER)));
    ExpectEnabled(dialog_, kReceiverSettings, true);
}

// With no traffic the receive never returns by itself: the stop closes the socket after its
// first wait. The reset then shows the empty record, also with the receiver off.
TEST_F(VeltraneTest, ReceiverStopsWithoutTrafficAndItsResetShowsTheEmptyRecord) {
    const uint16_t port = FreeUdpPort();
    UseLoopback(port, port);
    ASSERT_TRUE(Click(Control(IDC_ENABLE_RECEIVER)));
    ASSERT_TRUE(Click(Control(IDC_ENABLE_SENDER)));
    WaitForText(Control(IDC_RECEIVER_STATISTICS), ShowsReceivedBytes, kTrafficTimeoutMs);
    ASSERT_TRUE(Click(Control(IDC_ENABLE_SENDER)));

    const DWORD start = GetTickCount();
    ASSERT_TRUE(Click(Control(IDC_ENABLE_RECEIVER)));
    EXPECT_LT(GetTickCount() - start, kReceiverStopBoundMs);
    EXPECT_GT(ReceivedBytes(Text(IDC_RECEIVER_STATISTICS)), 0);

    ASSERT_TRUE(Click(Control(IDC_RECEIVER_RESET)));
    const std::string empty = ReceiverStatisticsText(ReceiverStatistics{});
    EXPECT_EQ(Text(IDC_RECEIVER_STATISTICS), empty);
    EXPECT_NE(empty.find("received 0 MB 0 bytes"), std::string::npos);
    EXPECT_NE(empty.find("lost packets: 100.%"), std::string::npos);

    // Switched on again without traffic, it starts from the empty record and stops as before.
    ASSERT_TRUE(Click(Control(IDC_ENABLE_RECEIVER)));
    Sleep(300);
    EXPECT_EQ(Text(IDC_RECEIVER_STATISTICS), empty);
    ASSERT_TRUE(Click(Control(IDC_ENABLE_RECEIVER)));
}

// A test packet of 64 bytes, the first of its group.
std::vector<uint8_t> FirstPacket(int64_t group, int64_t sendCounter, int64_t frequency) {
    std::vector<uint8_t> packet(64);
    WritePacketHeader(packet.data(), TestPacketHeader{0, group, sendCounter, frequency});
    return packet;
}

// The receiver follows the first sender after its reset: a second sender's test packets, and
// a header with frequency 0 from the first, are only counted as ignored.
TEST_F(VeltraneTest, ASecondSenderLeavesTheFollowedSendersLossExact) {
    UdpProbe followed;
    UdpProbe other;
    ASSERT_TRUE(followed.Valid() && other.Valid());
    const uint16_t port = FreeUdpPort();
    UseLoopback(port, FreeUdpPort());
    ASSERT_TRUE(Click(Control(IDC_ENABLE_RECEIVER)));
    // Datagrams that are no test packets until the receiver reads, then a reset: the run
    // below starts from the empty record.
    for (int tries = 0; tries < 50 && ReceivedBytes(Text(IDC_RECEIVER_STATISTICS)) <= 0; ++tries) {
        ASSERT_TRUE(other.SendTo(port, std::vector<uint8_t>(8)));
        WaitForText(Control(IDC_RECEIVER_STATISTICS), ShowsReceivedBytes, 200);
    }
    ASSERT_TRUE(Click(Control(IDC_RECEIVER_RESET)));
    ASSERT_EQ(Text(IDC_RECEIVER_STATISTICS), ReceiverStatisticsText(ReceiverStatistics{}));

    // Groups 0 to 19 without 3, 7, 11, 15 and 17: a loss of 25 %.
    constexpr int64_t kFrequency = 10'000'000;
    int sent = 0;
    for (int64_t group = 0; group < 20; ++group) {
        if (group == 3 || group == 7 || group == 11 || group == 15 || group == 17) {
            continue;
        }
        ASSERT_TRUE(followed.SendTo(port, FirstPacket(group, group * kFrequency / 100, kFrequency)));
        // Another sender of the same kind, a few groups ahead, whose clock is an hour ahead.
        ASSERT_TRUE(other.SendTo(port, FirstPacket(group + 2, (group + 360'000) * kFrequency / 100, kFrequency)));
        sent += 2;
        if (group == 9) {
            ASSERT_TRUE(followed.SendTo(port, FirstPacket(10, 10 * kFrequency / 100, 0)));
            ++sent;
        }
    }
    ASSERT_EQ(sent, 31);
    const std::string text = WaitForText(
        Control(IDC_RECEIVER_STATISTICS), [](const std::string& t) { return ReceivedBytes(t) == 31 * 64; },
        kTrafficTimeoutMs);
    ASSERT_TRUE(Click(Control(IDC_ENABLE_RECEIVER)));
    SCOPED_TRACE(text);
    EXPECT_EQ(ReceivedBytes(text), 31 * 64);
    const std::string end = "lost packets: 25.%\r\nignored datagrams: 16";
    ASSERT_GE(text.size(), end.size());
    EXPECT_EQ(text.substr(text.size() - end.size()), end);
    EXPECT_EQ(text.find("nan"), std::string::npos);
    EXPECT_EQ(text.find("inf"), std::string::npos);
}

// A sender stopped after 30 groups and started again 0.3 s later from the same port, its group
// numbers from 0 again and its counter later, as a real sender's are: within 0.5 s the receiver
// follows it into its second run, whose lost group shows, instead of taking its packets for
// copies of the first run's.
TEST_F(VeltraneTest, TheReceiverFollowsASenderThatStartsAgainWithinHalfASecond) {
    UdpProbe sender;
    ASSERT_TRUE(sender.Valid());
    const uint16_t port = FreeUdpPort();
    UseLoopback(port, FreeUdpPort());
    ASSERT_TRUE(Click(Control(IDC_ENABLE_RECEIVER)));
    constexpr int64_t kFrequency = 10'000'000;
    const auto start = std::chrono::steady_clock::now();
    // Group `group`'s first packet at `atMs` after the start, stamped with that time.
    const auto sendGroup = [&](int64_t group, int64_t atMs) {
        const auto due = start + std::chrono::milliseconds(atMs);
        const auto now = std::chrono::steady_clock::now();
        if (due > now) {
            Sleep(static_cast<DWORD>(std::chrono::ceil<std::chrono::milliseconds>(due - now).count()));
        }
        return sender.SendTo(port, FirstPacket(group, atMs * kFrequency / 1000, kFrequency));
    };
    for (int64_t group = 0; group < 30; ++group) {
        ASSERT_TRUE(sendGroup(group, group * 10));
    }
    const std::string firstRun = WaitForText(
        Control(IDC_RECEIVER_STATISTICS), [](const std::string& t) { return ReceivedBytes(t) == 30 * 64; },
        kTrafficTimeoutMs);
    ASSERT_EQ(ReceivedBytes(firstRun), 30 * 64) << firstRun;
    ASSERT_EQ(NumberAfter(firstRun, "lost packets: "), 0.0) << firstRun;

    // The second run: groups 0 to 9 without 5, from 0.3 s after the first run's last group.
    ASSERT_TRUE(sendGroup(0, 590));
    const auto restarted = std::chrono::steady_clock::now();
    for (int64_t group = 1; group < 10; ++group) {
        if (group != 5) {
            ASSERT_TRUE(sendGroup(group, 590 + group * 10));
        }
    }
    const std::string text = WaitForText(
        Control(IDC_RECEIVER_STATISTICS),
        [](const std::string& t) { return ReceivedBytes(t) == 39 * 64 && NumberAfter(t, "lost packets: ") > 0; },
        kTrafficTimeoutMs);
    const auto took = std::chrono::steady_clock::now() - restarted;
    SCOPED_TRACE(text);
    EXPECT_NEAR(NumberAfter(text, "lost packets: "), 100.0 / 40, 0.01);  // 1 of 30 + 10 groups
    EXPECT_EQ(text.find("ignored datagrams"), std::string::npos);
    EXPECT_LE(took, std::chrono::milliseconds(500));
    ASSERT_TRUE(Click(Control(IDC_ENABLE_RECEIVER)));
}

// A long period keeps the sender's own text away while the reset's text is read.
TEST_F(VeltraneTest, SenderResetShowsTheEmptyRecordOnlyWhileTheSenderRuns) {
    UdpProbe sink;
    ASSERT_TRUE(sink.Valid());
    UseLoopback(FreeUdpPort(), sink.Port());
    ASSERT_TRUE(SetText(Control(IDC_SENDER_PERIOD), "3000"));
    ASSERT_TRUE(SetText(Control(IDC_PACKETS_PER_PERIOD), "1"));
    ASSERT_TRUE(Click(Control(IDC_ENABLE_SENDER)));
    ASSERT_TRUE(Click(Control(IDC_SENDER_RESET)));
    EXPECT_EQ(WaitForText(Control(IDC_SENDER_STATISTICS), HasText, 2000),
              SenderStatisticsText(SenderStatistics{}, 192));

    const std::string periodText = WaitForText(
        Control(IDC_SENDER_STATISTICS), [](const std::string& text) { return NumberAfter(text, "duration = ") > 0; },
        kTrafficTimeoutMs);
    EXPECT_GE(NumberAfter(periodText, "duration = "), 2.5) << periodText;
    ASSERT_TRUE(Click(Control(IDC_ENABLE_SENDER)));
    ASSERT_TRUE(Click(Control(IDC_SENDER_RESET)));
    Sleep(300);
    EXPECT_EQ(Text(IDC_SENDER_STATISTICS), periodText);
}

// A sender without pause (period 0, no packets) has a new text after every pass; the dialog
// still takes a user's click, which comes after every posted message in the queue.
TEST_F(VeltraneTest, SenderWithoutPauseLeavesTheDialogResponsive) {
    UdpProbe sink;
    ASSERT_TRUE(sink.Valid());
    UseLoopback(FreeUdpPort(), sink.Port());
    ASSERT_TRUE(SetText(Control(IDC_SENDER_PERIOD), "0"));
    ASSERT_TRUE(SetText(Control(IDC_PACKETS_PER_PERIOD), "0"));
    HWND enable = Control(IDC_ENABLE_SENDER);
    ASSERT_TRUE(Click(enable));
    const std::string text = WaitForText(Control(IDC_SENDER_STATISTICS), HasText, kTrafficTimeoutMs);
    EXPECT_TRUE(StartsWith(text, "sender statistics:\r\nbandwidth=")) << text;
    Sleep(1000);

    // A mouse click as the system delivers it: posted, not sent.
    PostMessageA(enable, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(3, 3));
    PostMessageA(enable, WM_LBUTTONUP, 0, MAKELPARAM(3, 3));
    const DWORD start = GetTickCount();
    while (IsChecked(enable) && GetTickCount() - start < kReceiverStopBoundMs) {
        Sleep(20);
    }
    EXPECT_FALSE(IsChecked(enable)) << "the click was not served";
    // The dialog answers sent messages while it waits for the sender: wait for the end itself.
    while (!IsWindowEnabled(Control(IDC_PACKET_SIZE)) && GetTickCount() - start < kReceiverStopBoundMs) {
        Sleep(20);
    }
    ExpectEnabled(dialog_, kSenderSettings, true);
}

// A stop ends the group under way, however large: with 2147483647 packets per period the
// uncheck returns within half a second.
TEST_F(VeltraneTest, StopEndsTheLargestGroupAtOnce) {
    UdpProbe sink;
    ASSERT_TRUE(sink.Valid());
    UseLoopback(FreeUdpPort(), sink.Port());
    ASSERT_TRUE(SetText(Control(IDC_PACKETS_PER_PERIOD), "2147483647"));
    ASSERT_TRUE(Click(Control(IDC_ENABLE_SENDER)));
    Sleep(300);
    const DWORD start = GetTickCount();
    ASSERT_TRUE(Click(Control(IDC_ENABLE_SENDER)));
    EXPECT_LT(GetTickCount() - start, 500u);
    EXPECT_FALSE(IsChecked(Control(IDC_ENABLE_SENDER)));
    ExpectEnabled(dialog_, kSenderSettings, true);
}

// While the GUI thread waits for a worker to stop it answers messages that other programs
// send, but a close or a click among them must not start anything: they are ignored, and the
// clicked check box keeps telling what runs.
TEST_F(VeltraneTest, CloseAndClicksSentDuringAStopAreIgnored) {
    const uint16_t port = FreeUdpPort();
    UseLoopback(port, port);
    ASSERT_TRUE(Click(Control(IDC_ENABLE_RECEIVER)));
    // Without traffic the stop waits a second before it closes the receiver's socket.
    Sleep(300);
    PostClick(Control(IDC_ENABLE_RECEIVER));
    Sleep(300);
    ASSERT_FALSE(IsWindowEnabled(Control(IDC_RECEIVER_PORT))) << "the stop did not wait";
    DWORD_PTR result = 0;
    EXPECT_TRUE(SendMessageTimeoutA(dialog_, WM_CLOSE, 0, 0, SMTO_ABORTIFHUNG, 5000, &result));
    ASSERT_TRUE(Click(Control(IDC_ENABLE_SENDER)));
    EXPECT_FALSE(IsChecked(Control(IDC_ENABLE_SENDER)));

    const DWORD start = GetTickCount();
    while (!IsWindowEnabled(Control(IDC_RECEIVER_PORT)) && GetTickCount() - start < kReceiverStopBoundMs) {
        Sleep(50);
    }
    ExpectEnabled(dialog_, kReceiverSettings, true);
    ExpectEnabled(dialog_, kSenderSettings, true);
    EXPECT_FALSE(IsChecked(Control(IDC_ENABLE_SENDER)));
    EXPECT_FALSE(IsChecked(Control(IDC_ENABLE_RECEIVER)));
    EXPECT_TRUE(Text(IDC_SENDER_STATISTICS).empty());
    EXPECT_EQ(program_->ExitCode(), STILL_ACTIVE);
    CloseAndExpectExitCodeZero(10000);
}

TEST_F(VeltraneTest, ClosingWithBothSidesRunningEndsTheProgram) {
    const uint16_t port = FreeUdpPort();
    UseLoopback(port, port);
    ASSERT_TRUE(Click(Control(IDC_ENABLE_RECEIVER)));
    ASSERT_TRUE(Click(Control(IDC_ENABLE_SENDER)));
    WaitForText(Control(IDC_RECEIVER_STATISTICS), ShowsReceivedBytes, kTrafficTimeoutMs);
    // The sender's stop takes a period, the receiver's at most two seconds.
    CloseAndExpectExitCodeZero(10000);
}

// A packet size below the header's 32 bytes is raised to 32.
TEST_F(VeltraneTest, SenderSendsThirtyTwoByteDatagramsForAPacketSizeOfZero) {
    UdpProbe probe;
    ASSERT_TRUE(probe.Valid());
    UseLoopback(FreeUdpPort(), probe.Port());
    ASSERT_TRUE(SetText(Control(IDC_PACKET_SIZE), "0"));
    ASSERT_TRUE(SetText(Control(IDC_PACKETS_PER_PERIOD), "3"));
    ASSERT_TRUE(Click(Control(IDC_ENABLE_SENDER)));
    std::vector<size_t> lengths;
    std::vector<uint32_t> indexes;
    while (lengths.size() < 12) {
        const std::vector<uint8_t> datagram = probe.Receive(kTrafficTimeoutMs);
        if (datagram.empty()) {
            break;
        }
        lengths.push_back(datagram.size());
        indexes.push_back(datagram[0] | datagram[1] << 8 | datagram[2] << 16 |
                          static_cast<uint32_t>(datagram[3]) << 24);
    }
    ASSERT_TRUE(Click(Control(IDC_ENABLE_SENDER)));
    ASSERT_EQ(lengths.size(), 12u);
    for (size_t i = 0; i < lengths.size(); ++i) {
        EXPECT_EQ(lengths[i], 32u);
        EXPECT_LT(indexes[i], 3u);
    }
}

class ErrorBoxTest : public VeltraneTest {
  protected:
    // Closes the dialog while a worker shows `box`: after `waitMs` the program still runs and
    // answers; once the box is dismissed it ends with exit code 0.
    void CloseWhileTheBoxIsOpen(HWND box, DWORD waitMs) {
        ASSERT_NE(box, nullptr);
        closed_ = true;
        ASSERT_TRUE(PostMessageA(dialog_, WM_CLOSE, 0, 0));
        Sleep(waitMs);
        EXPECT_EQ(program_->ExitCode(), STILL_ACTIVE);
        EXPECT_TRUE(Synchronise(dialog_));
        ASSERT_TRUE(DismissMessageBox(box));
        ASSERT_TRUE(program_->WaitForExit(10000)) << "the program did not end";
        EXPECT_EQ(program_->ExitCode(), 0u);
    }
};

// A worker's error box is owned by the dialog and needs the GUI thread. Closing the dialog
// meanwhile waits for the box (the dialog goes on answering) and ends the program once the
// box is dismissed.
TEST_F(ErrorBoxTest, ClosingWhileTheReceiversBoxIsOpenEndsOnceItIsDismissed) {
    UdpProbe holder;
    ASSERT_TRUE(holder.Valid());
    UseLoopback(holder.Port(), holder.Port());
    ASSERT_TRUE(Click(Control(IDC_ENABLE_RECEIVER)));
    const MessageBoxInfo box = OnlyMessageBox(kBoxTimeoutMs);

    // Past the receiver's stop waits.
    CloseWhileTheBoxIsOpen(box.window, 2500);
}

// The same for the sender, whose stop waits without a time-out: its box must be able to
// close while the GUI thread waits. Port 0 makes every send fail.
TEST_F(ErrorBoxTest, ClosingWhileTheSendersBoxIsOpenEndsOnceItIsDismissed) {
    UseLoopback(FreeUdpPort(), 0);
    ASSERT_TRUE(Click(Control(IDC_ENABLE_SENDER)));
    const MessageBoxInfo box = OnlyMessageBox(kBoxTimeoutMs);
    EXPECT_TRUE(StartsWith(box.text, "error in MainWindow::SendPacket: WSASendTo failed\r\nfile: winmain\r\nline: 390"))
        << box.text;

    CloseWhileTheBoxIsOpen(box.window, 1000);
}

// Not a limit, a figure: the CPU time of the receiving instance's GUI thread (display timer,
// statistics text and graph every 50 ms) while another instance sends the default traffic.
TEST_F(VeltraneTest, ReportsTheGuiThreadsCpuTimeWhileReceiving) {
    ChildProcess sending(programPath);
    HWND other = WaitForDialog(sending.Id(), kMainCaption, kStartTimeoutMs);
    ASSERT_NE(other, nullptr);
    const uint16_t port = FreeUdpPort();
    UseLoopback(port, port);
    ASSERT_TRUE(SetAddress(GetDlgItem(other, IDC_DESTINATION_ADDRESS), 0x7F000001));
    ASSERT_TRUE(SetText(GetDlgItem(other, IDC_DESTINATION_PORT), std::to_string(port)));
    ASSERT_TRUE(Click(Control(IDC_ENABLE_RECEIVER)));
    ASSERT_TRUE(Click(GetDlgItem(other, IDC_ENABLE_SENDER)));
    WaitForText(Control(IDC_RECEIVER_STATISTICS), ShowsReceivedBytes, kTrafficTimeoutMs);

    constexpr DWORD kIntervalMs = 5000;
    const double guiBefore = ThreadCpuTimeMs(dialog_);
    const double processBefore = ProcessCpuTimeMs(program_->Id());
    Sleep(kIntervalMs);
    const double gui = ThreadCpuTimeMs(dialog_) - guiBefore;
    const double process = ProcessCpuTimeMs(program_->Id()) - processBefore;
    ASSERT_GE(guiBefore, 0) << "the thread's times cannot be read";
    std::printf("receiving instance over %lu ms: GUI thread %.0f ms CPU (%.1f%%), whole process %.0f ms (%.1f%%)\n",
                kIntervalMs, gui, 100.0 * gui / kIntervalMs, process, 100.0 * process / kIntervalMs);
    RecordProperty("gui_thread_cpu_percent", std::to_string(100.0 * gui / kIntervalMs));
    RecordProperty("process_cpu_percent", std::to_string(100.0 * process / kIntervalMs));
    EXPECT_LE(gui, process + 1.0);
    EXPECT_GT(ReceivedBytes(Text(IDC_RECEIVER_STATISTICS)), 0);

    ASSERT_TRUE(Click(GetDlgItem(other, IDC_ENABLE_SENDER)));
    ASSERT_TRUE(PostMessageA(other, WM_CLOSE, 0, 0));
    ASSERT_TRUE(sending.WaitForExit(10000));
}

}  // namespace
