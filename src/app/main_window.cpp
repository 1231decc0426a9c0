#include "app/main_window.h"

#include <commctrl.h>
#include <shellapi.h>

#include <exception>
#include <memory>
#include <string>
#include <utility>

#include "app/escape_filter.h"
#include "app/maker_links.h"
#include "app/resource.h"
#include "app/serving_wait.h"
#include "arrayviewer/continous_array_1d_win32.h"
#include "arrayviewer/scale_display_1d_win32.h"
#include "base/errors.h"
#include "measure/default_settings.h"
#include "windowing/show_exception.h"

namespace {

// The receiver's display timer on the dialog.
constexpr UINT_PTR kDisplayTimer = 0;
constexpr UINT kDisplayPeriodMs = 50;

// Posted by the sender thread when a new statistics text waits in the mailbox.
constexpr UINT kSenderTextMessage = WM_APP + 1;

// The trace's smallest vertical span: an empty histogram lies flat in the middle.
constexpr double kGraphMinRange = 0.001;

// The sender's settings, in the order the sender reads them, disabled while it runs.
constexpr int kSenderControls[] = {IDC_SOURCE_PORT,        IDC_DESTINATION_ADDRESS, IDC_DESTINATION_PORT,
                                   IDC_SENDER_BUFFER_SIZE, IDC_SENDER_PERIOD,       IDC_PACKETS_PER_PERIOD,
                                   IDC_PACKET_SIZE};

void OpenPage(HWND owner, const std::string& url) {
    // Errors are not reported: without a browser the click simply does nothing.
    ShellExecuteA(owner, "open", url.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
}

// Empty, 0 or not a number all read as 0, like a value too large for 32 bits.
uint32_t ReadUnsigned(HWND dialog, int id) {
    return GetDlgItemInt(dialog, id, nullptr, FALSE);
}

// Only the low 16 bits of a port field count.
uint16_t ReadPort(HWND dialog, int id) {
    return static_cast<uint16_t>(ReadUnsigned(dialog, id) & 0xFFFF);
}

// An IP address control's address in host order; blank fields read as 0.
uint32_t ReadAddress(HWND dialog, int id) {
    DWORD address = 0;
    SendDlgItemMessageA(dialog, id, IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(&address));
    return address;
}

bool IsChecked(HWND dialog, int id) {
    return IsDlgButtonChecked(dialog, id) == BST_CHECKED;
}

void EnableControl(HWND dialog, int id, bool enable) {
    EnableWindow(GetDlgItem(dialog, id), enable ? TRUE : FALSE);
}

void SetChecked(HWND dialog, int id, bool checked) {
    CheckDlgButton(dialog, id, checked ? BST_CHECKED : BST_UNCHECKED);
}

// Runs a worker's `stop`, then `freeSettings`. A stop that finds no thread leaves the settings
// disabled until the next check and uncheck; one that gave up on a stuck worker (which
// therefore still runs) frees them all the same: the box is clear, and the next start tells
// that the thread is still there.
void StopThenFreeSettings(const std::function<void()>& stop,
                          const std::function<bool()>& running,
                          const std::function<void()>& freeSettings) {
    try {
        stop();
    } catch (Exception* e) {
        if (running()) {
            freeSettings();
        }
        throw TakeOverException(e);
    }
    freeSettings();
}

// Counts a worker's error box for as long as it is open.
class OpenBoxCount {
  public:
    explicit OpenBoxCount(std::atomic<int>& count) : count_(count) { ++count_; }
    OpenBoxCount(const OpenBoxCount&) = delete;
    OpenBoxCount& operator=(const OpenBoxCount&) = delete;
    ~OpenBoxCount() { --count_; }

  private:
    std::atomic<int>& count_;
};

}  // namespace

MainWindow::MainWindow(HINSTANCE resourceModule, MainWindowSeams testSeams)
    : instance(resourceModule),
      seams(std::move(testSeams)),
      senderThread(*this, logSink, seams.clock != nullptr ? *seams.clock : SystemClock()),
      receiverThread(*this, logSink, seams.clock != nullptr ? *seams.clock : SystemClock()),
      graphSeries(receiverThread.PublishedHistogram(), kHistogramBins, 0) {}

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
        case WM_TIMER:
            DisplayReceiverStatistics();
            break;
        case kSenderTextMessage:
            OnSenderStatisticsText();
            break;
        case WM_CLOSE:
            OnClose();
            break;
        default:
            break;
    }
    return 0;
}

// While the GUI thread waits for a worker it serves messages that other programs may send; a
// close among them must not end the dialog under the wait.
bool MainWindow::CanClose() {
    return !waitingForWorker;
}

// Called once when the dialog has been created, before it is shown.
void MainWindow::OnInitDialog() {
    workerTarget.store(hwnd);
    SetIcons();
    SetDefaultSettings();
    // Escape in a focused statistics box would close the dialog.
    IgnoreEscapeKey(GetDlgItem(hwnd, IDC_SENDER_STATISTICS));
    IgnoreEscapeKey(GetDlgItem(hwnd, IDC_RECEIVER_STATISTICS));
    SetUpGraph();
}

// Called for every command of a control or the keyboard. Commands without a case, among
// them IDOK and IDCANCEL from Enter and Escape, are ignored, so the dialog stays open.
void MainWindow::OnCommand(int id, int notification) {
    if (waitingForWorker) {
        // Only a message sent by another program gets here during a wait. A click has flipped
        // a check box's mark, a bare command has not: either way the mark goes back to what
        // the wait found, so that it still tells what runs.
        if (id == IDC_ENABLE_SENDER) {
            SetChecked(hwnd, id, senderCheckedAtWait);
        } else if (id == IDC_ENABLE_RECEIVER) {
            SetChecked(hwnd, id, receiverCheckedAtWait);
        }
        return;
    }
    switch (id) {
        case IDC_ENABLE_SENDER:
            OnEnableSender(notification);
            break;
        case IDC_SENDER_RESET:
            OnResetSenderStatistics();
            break;
        case IDC_ENABLE_RECEIVER:
            OnEnableReceiver(notification);
            break;
        case IDC_RECEIVER_RESET:
            OnResetReceiverStatistics();
            break;
        case IDC_STOP_DISPLAY_TIMER:
            OnStopDisplayTimer();
            break;
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
// The dialog stays while a worker shows its error box: the box is owned by the dialog. A
// worker that does not end within its stop's bound is left running: the program's entry
// then keeps the MainWindow, which the worker still uses, until the process ends.
void MainWindow::OnClose() {
    // A worker that ends by itself between the test and its stop makes the stop report "not
    // started", and one that never ends "did not stop": at closing there is nothing to tell.
    const auto stopIfRunning = [](bool running, auto stop) {
        try {
            if (running) {
                stop();
            }
        } catch (Exception* e) {
            DestroyException(e);
        }
    };
    stopIfRunning(senderThread.Running(), [this] { StopSenderThread(); });
    stopIfRunning(receiverThread.Running(), [this] { StopReceiverThread(); });
    WaitForWorkersToEnd();
    // From now on a worker's text or box finds no window.
    workerTarget.store(nullptr);
}

// A click (notification 0) that checked the box starts the sender; one that cleared it stops it.
void MainWindow::OnEnableSender(int notification) {
    if (notification != BN_CLICKED) {
        return;
    }
    if (IsChecked(hwnd, IDC_ENABLE_SENDER)) {
        try {
            StartSenderThread();
        } catch (Exception* e) {
            CheckDlgButton(hwnd, IDC_ENABLE_SENDER, BST_UNCHECKED);
            throw TakeOverException(e);
        }
        EnableSenderControls(false);
    } else {
        StopThenFreeSettings([this] { StopSenderThread(); }, [this] { return senderThread.Running(); },
                             [this] { EnableSenderControls(true); });
    }
}

// The box shows the zero record at once unless the user stopped the sender (also when it
// ended by an error); a stopped sender's box keeps its last text.
void MainWindow::OnResetSenderStatistics() {
    senderThread.ResetStatistics();
    if (!senderThread.StopRequested()) {
        DisplaySenderStatistics(senderThread.Statistics(), senderThread.PacketSize(), senderThread.ResetGeneration());
    }
}

// A click (notification 0) that checked the box starts the receiver and its display timer; one
// that cleared it stops both.
void MainWindow::OnEnableReceiver(int notification) {
    if (notification != BN_CLICKED) {
        return;
    }
    if (IsChecked(hwnd, IDC_ENABLE_RECEIVER)) {
        try {
            StartReceiverThread();
        } catch (Exception* e) {
            CheckDlgButton(hwnd, IDC_ENABLE_RECEIVER, BST_UNCHECKED);
            throw TakeOverException(e);
        }
        SetTimer(hwnd, kDisplayTimer, kDisplayPeriodMs, nullptr);
        EnableReceiverControls(false);
    } else {
        KillTimer(hwnd, kDisplayTimer);
        StopThenFreeSettings([this] { StopReceiverThread(); }, [this] { return receiverThread.Running(); },
                             [this] { EnableReceiverControls(true); });
    }
}

// Also while the receiver is off: the box and the graph show the empty record at once.
void MainWindow::OnResetReceiverStatistics() {
    receiverThread.ResetStatistics();
    DisplayReceiverStatistics();
}

void MainWindow::OnStopDisplayTimer() {
    KillTimer(hwnd, kDisplayTimer);
    DisplayReceiverStatistics();
}

void MainWindow::OnSenderStatisticsText() {
    if (OwnedText text = senderText.Take()) {
        SetDlgItemTextA(hwnd, IDC_SENDER_STATISTICS, text.get());
    }
}

void MainWindow::SetIcons() {
    // Loaded at the sizes the system asks for, from the 32, 48 and 128 px images.
    const auto load = [this](int widthMetric, int heightMetric) {
        return OwnedIcon(
            static_cast<HICON>(LoadImageA(instance, MAKEINTRESOURCEA(IDI_MAIN), IMAGE_ICON,
                                          GetSystemMetrics(widthMetric), GetSystemMetrics(heightMetric), 0)));
    };
    smallIcon = load(SM_CXSMICON, SM_CYSMICON);
    bigIcon = load(SM_CXICON, SM_CYICON);
    SendMessageA(hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon.Get()));
    SendMessageA(hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(bigIcon.Get()));
}

void MainWindow::SetDefaultSettings() {
    using namespace DefaultSettings;
    SetDlgItemInt(hwnd, IDC_RECEIVER_PORT, kReceiverPort, FALSE);
    SetDlgItemInt(hwnd, IDC_DESTINATION_PORT, kDestinationPort, FALSE);
    SetDlgItemInt(hwnd, IDC_SOURCE_PORT, kSourcePort, FALSE);
    SetDlgItemInt(hwnd, IDC_SENDER_PERIOD, kPeriodMs, FALSE);
    SetDlgItemInt(hwnd, IDC_PACKETS_PER_PERIOD, kPacketsPerPeriod, FALSE);
    SetDlgItemInt(hwnd, IDC_PACKET_SIZE, kPacketSize, FALSE);
    // The sender buffer size stays empty: the system's own size.
    static_assert(kSenderBufferSizeKB == 0, "a buffer size other than the system's needs its field set");
    SendDlgItemMessageA(hwnd, IDC_DESTINATION_ADDRESS, IPM_SETADDRESS, 0, kDestinationAddress);
    SendDlgItemMessageA(hwnd, IDC_RECEIVER_ADDRESS, IPM_SETADDRESS, 0, kReceiverAddress);
}

// The graph takes the place of the hidden static 1008: an axis from -40 ms to 40 ms and the
// trace of the receiver's jitter histogram, both under one zoom scale.
void MainWindow::SetUpGraph() {
    RECT place{};
    GetWindowRect(GetDlgItem(hwnd, IDC_GRAPH_PLACEHOLDER), &place);
    POINT corners[2] = {{place.left, place.top}, {place.right, place.bottom}};
    ScreenToClient(hwnd, &corners[0]);
    ScreenToClient(hwnd, &corners[1]);
    place = RECT{corners[0].x, corners[0].y, corners[1].x, corners[1].y};

    auto zoom = std::make_unique<ArrayViewer::HorizontalZoomScale>();
    ArrayViewer::HorizontalZoomScale* zoomScale = zoom.get();
    graph.Create(&place, hwnd, std::move(zoom));
    // Only now does the graph own the zoom scale.
    graphZoom = zoomScale;
    graph.AddArray(
        std::make_unique<ArrayViewer::ScaleDisplay1D>(&graphTransform, graphZoom, kHistogramFromMs, kHistogramToMs));
    graph.AddArray(
        std::make_unique<ArrayViewer::ContinousArray1D>(graphZoom, &graphTransform, &graphSeries, kGraphMinRange));
    // The axis labels the vertical range that the trace fitted during the paint before; one
    // paint now, while the dialog is still hidden, fits it to the empty histogram, so that
    // the first picture on the screen is labelled like every later one.
    graph.Repaint();
}

void MainWindow::OpenFeedbackPage() {
    OpenPage(hwnd, FeedbackPageUrl());
}

void MainWindow::OpenHomePage() {
    OpenPage(hwnd, HomePageUrl());
}

// The settings are read here, on the GUI thread, and travel with the thread: the sender never
// has to ask the dialog for anything.
void MainWindow::StartSenderThread() {
    SenderSettings settings;
    settings.bufferSizeKB = ReadUnsigned(hwnd, IDC_SENDER_BUFFER_SIZE);
    settings.destination =
        Endpoint::Ipv4(ReadAddress(hwnd, IDC_DESTINATION_ADDRESS), ReadPort(hwnd, IDC_DESTINATION_PORT));
    settings.packetSize = ReadUnsigned(hwnd, IDC_PACKET_SIZE);  // the engine raises it to 32
    settings.periodMs = ReadUnsigned(hwnd, IDC_SENDER_PERIOD);
    settings.packetsPerPeriod = static_cast<int32_t>(ReadUnsigned(hwnd, IDC_PACKETS_PER_PERIOD));
    senderThread.Start(settings);
}

// Waits until the sender's next send or slice of its pause ends, 3 s at most (the stop's bound).
// The GUI thread meanwhile serves sent messages only:
// a sender that fails just now shows its box owned by the dialog, which needs them.
void MainWindow::StopSenderThread() {
    WaitForWorker([this] { RunServingSentMessages([this] { senderThread.Stop(); }); });
}

void MainWindow::EnableSenderControls(bool enable) {
    for (int id : kSenderControls) {
        EnableControl(hwnd, id, enable);
    }
}

void MainWindow::EnableReceiverControls(bool enable) {
    EnableControl(hwnd, IDC_RECEIVER_ADDRESS, enable);
    EnableControl(hwnd, IDC_RECEIVER_PORT, enable);
}

void MainWindow::StartReceiverThread() {
    ReceiverSettings settings;
    settings.local = Endpoint::Ipv4(ReadAddress(hwnd, IDC_RECEIVER_ADDRESS), ReadPort(hwnd, IDC_RECEIVER_PORT));
    // The sender's packet size is the largest datagram the receiver takes.
    settings.packetSize = ReadUnsigned(hwnd, IDC_PACKET_SIZE);
    receiverThread.Start(settings);
}

// Waits 4 s at most: a second of grace for a datagram to end the receive, then the socket is
// closed and the stop's bound of 3 s begins.
void MainWindow::StopReceiverThread() {
    WaitForWorker([this] { RunServingSentMessages([this] { receiverThread.Stop(); }); });
}

// An error is shown here, with the display timer stopped while its box is open: the box's
// message loop would otherwise deliver the next ticks, each failing into another box. The
// timer runs again once the box is dismissed, if the receiver still runs.
void MainWindow::DisplayReceiverStatistics() {
    std::exception_ptr error;
    try {
        ShowReceiverStatistics();
        return;
    } catch (...) {
        error = std::current_exception();
    }
    const bool timerWasRunning = KillTimer(hwnd, kDisplayTimer) != 0;
    ShowErrorsOf(hwnd, 0, [&] {
        std::rethrow_exception(error);
        return 0;
    });
    if (timerWasRunning && receiverThread.Running()) {
        SetTimer(hwnd, kDisplayTimer, kDisplayPeriodMs, nullptr);
    }
}

void MainWindow::ShowReceiverStatistics() {
    if (seams.beforeReceiverDisplay) {
        seams.beforeReceiverDisplay();
    }
    const std::string text = ReceiverStatisticsText(receiverThread.Statistics());
    SetDlgItemTextA(hwnd, IDC_RECEIVER_STATISTICS, text.c_str());
    // Painted at once into the window, not through invalidation: the trace reads the
    // published histogram as it is now.
    graph.Repaint();
}

// A worker may outlive its stop while it shows its error box; the dialog then stays until the
// user has dismissed the box. A worker without a box has already had its stop's wait.
void MainWindow::WaitForWorkersToEnd() {
    WaitForWorker(
        [this] { WaitServingSentMessages([this] { return WorkersEnded() || openWorkerBoxes.load() == 0; }); });
}

void MainWindow::WaitForWorker(const std::function<void()>& wait) {
    senderCheckedAtWait = IsChecked(hwnd, IDC_ENABLE_SENDER);
    receiverCheckedAtWait = IsChecked(hwnd, IDC_ENABLE_RECEIVER);
    waitingForWorker = true;
    struct EndWait {
        bool& flag;
        ~EndWait() { flag = false; }
    } endWait{waitingForWorker};
    wait();
}

// Sender thread (or the GUI thread after a reset): the text is posted, never sent, since the
// GUI thread may be waiting for this very thread to stop.
void MainWindow::DisplaySenderStatistics(const SenderStatistics& statistics,
                                         uint32_t packetSize,
                                         uint64_t resetGeneration) {
    const std::string text = SenderStatisticsText(statistics, packetSize);
    if (seams.beforeSenderText) {
        seams.beforeSenderText();
    }
    senderText.Put(workerTarget.load(), kSenderTextMessage, text, resetGeneration);
}

void MainWindow::ReportError(Exception* e) {
    ExceptionOwner owner(e);
    const OpenBoxCount open(openWorkerBoxes);
    ShowException(e, workerTarget.load());
}

void MainWindow::ReportUnknownError(const char* text) {
    const OpenBoxCount open(openWorkerBoxes);
    ShowErrorText(text, workerTarget.load());
}
