#pragma once
// The end-to-end fixture: starts the real Veltrane.exe for each test and checks afterwards that
// it showed no unexpected box and ended only when closed.

#include <windows.h>

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "app/resource.h"
#include "app_driver.h"

// The program under test (a Windows path), from the command line.
extern std::string programPath;

inline constexpr DWORD kStartTimeoutMs = 30000;
// The longest a receiver takes to stop (two waits of 1000 ms), with room for a slow machine.
inline constexpr DWORD kReceiverStopBoundMs = 5000;

// The number that follows `label` in `text`, or NaN when the label is missing.
inline double NumberAfter(const std::string& text, const std::string& label) {
    const size_t at = text.find(label);
    if (at == std::string::npos) {
        return std::nan("");
    }
    return std::strtod(text.c_str() + at + label.size(), nullptr);
}

class VeltraneTest : public testing::Test {
  protected:
    void SetUp() override {
        program_ = std::make_unique<ChildProcess>(programPath);
        dialog_ = WaitForDialog(program_->Id(), kMainCaption, kStartTimeoutMs);
        ASSERT_NE(dialog_, nullptr) << "the main dialog did not appear";
    }

    // Whatever a test did, the program never showed an error box, and it ended only when closed.
    void TearDown() override {
        if (program_->ExitCode() == STILL_ACTIVE) {
            for (const MessageBoxInfo& box : OpenMessageBoxes(program_->Id(), dialog_)) {
                ADD_FAILURE() << "unexpected box \"" << box.caption << "\": " << box.text;
            }
        } else if (!closed_) {
            ADD_FAILURE() << "the program ended by itself, exit code " << program_->ExitCode();
        }
        program_.reset();
    }

    HWND Control(int id) const { return GetDlgItem(dialog_, id); }
    std::string Text(int id) const { return WindowText(Control(id)); }

    // Sender and receiver on 127.0.0.1 only: the receiver on `receiverPort`, the sender to
    // `destinationPort`.
    void UseLoopback(uint16_t receiverPort, uint16_t destinationPort) {
        ASSERT_TRUE(SetAddress(Control(IDC_RECEIVER_ADDRESS), 0x7F000001));
        ASSERT_TRUE(SetText(Control(IDC_RECEIVER_PORT), std::to_string(receiverPort)));
        ASSERT_TRUE(SetAddress(Control(IDC_DESTINATION_ADDRESS), 0x7F000001));
        ASSERT_TRUE(SetText(Control(IDC_DESTINATION_PORT), std::to_string(destinationPort)));
    }

    // The one box the program shows now (waiting for it up to `timeoutMs`).
    MessageBoxInfo OnlyMessageBox(DWORD timeoutMs) {
        const std::vector<MessageBoxInfo> boxes = WaitForMessageBoxes(program_->Id(), dialog_, timeoutMs);
        EXPECT_EQ(boxes.size(), 1u);
        return boxes.empty() ? MessageBoxInfo{} : boxes.front();
    }

    // Closes the dialog and expects the program to end with exit code 0 within `timeoutMs`.
    void CloseAndExpectExitCodeZero(DWORD timeoutMs) {
        closed_ = true;
        ASSERT_TRUE(PostMessageA(dialog_, WM_CLOSE, 0, 0));
        ASSERT_TRUE(program_->WaitForExit(timeoutMs)) << "the program did not end";
        EXPECT_EQ(program_->ExitCode(), 0u);
    }

    std::unique_ptr<ChildProcess> program_;
    HWND dialog_ = nullptr;
    bool closed_ = false;
};
