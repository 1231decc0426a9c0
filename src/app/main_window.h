#pragma once
// MainWindow: the program's one dialog; owns all run-time state and handles the dialog's messages.

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>

#include "app/text_mailbox.h"
#include "arrayviewer/array_viewer_win32.h"
#include "arrayviewer/horizontal_zoom_scale.h"
#include "arrayviewer/scalar_transform.h"
#include "arrayviewer/values.h"
#include "measure/receiver.h"
#include "measure/sender.h"
#include "measure/worker_observer.h"
#include "windowing/dialog.h"
#include "windowing/win32_handles.h"

class LogSink;

// What tests put in place of the system's parts; the program keeps the defaults.
struct MainWindowSeams {
    // The workers' clock; null: the system's.
    Clock* clock = nullptr;
    // Called on the GUI thread before each display of the receiver's statistics; may throw.
    std::function<void()> beforeReceiverDisplay;
    // Called before a sender text goes into the mailbox (on the thread that made it).
    std::function<void()> beforeSenderText;
};

class MainWindow : public Dialog, private SenderObserver {
  public:
    // `resourceModule` holds the dialog's resources; `testSeams` puts faults in for tests.
    explicit MainWindow(HINSTANCE resourceModule, MainWindowSeams testSeams = {});

    // False while a worker whose stop gave up still runs: it uses this object's members, so
    // the object must then outlive the dialog.
    bool WorkersEnded() const { return !senderThread.Running() && !receiverThread.Running(); }

    INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
    bool CanClose() override;

  private:
    void OnInitDialog();
    void OnCommand(int id, int notification);
    void OnClose();
    void OnEnableSender(int notification);
    void OnResetSenderStatistics();
    void OnEnableReceiver(int notification);
    void OnResetReceiverStatistics();
    void OnStopDisplayTimer();
    void OnSenderStatisticsText();

    void SetIcons();
    void SetDefaultSettings();
    void SetUpGraph();
    void OpenFeedbackPage();
    void OpenHomePage();

    void StartSenderThread();
    void StopSenderThread();
    void EnableSenderControls(bool enable);
    void EnableReceiverControls(bool enable);
    void StartReceiverThread();
    void StopReceiverThread();
    void DisplayReceiverStatistics();
    void ShowReceiverStatistics();
    void WaitForWorkersToEnd();
    // Runs `wait` with waitingForWorker set.
    void WaitForWorker(const std::function<void()>& wait);

    // Called on the sender and receiver threads.
    void DisplaySenderStatistics(const SenderStatistics& statistics,
                                 uint32_t packetSize,
                                 uint64_t resetGeneration) override;
    void ReportError(Exception* e) override;
    void ReportUnknownError(const char* text) override;

    HINSTANCE instance;
    // The icons must outlive the dialog window that shows them.
    OwnedIcon smallIcon;
    OwnedIcon bigIcon;
    // The owner of the workers' error boxes and the receiver of the sender's texts; read by the
    // workers, so it is kept apart from the base's hwnd.
    std::atomic<HWND> workerTarget{nullptr};
    TextMailbox senderText;
    // Set while the GUI thread waits for a worker to stop, with the marks of the check boxes
    // as the wait found them.
    bool waitingForWorker = false;
    bool senderCheckedAtWait = false;
    bool receiverCheckedAtWait = false;
    // The error boxes the workers show now: closing waits for them, not for a stuck worker.
    std::atomic<int> openWorkerBoxes{0};
    MainWindowSeams seams;

    LogSink* logSink = nullptr;
    // The workers use only the members above; they are joined before any of them goes.
    Sender senderThread;
    Receiver receiverThread;

    ArrayViewer::ArrayViewer graph;
    ArrayViewer::HorizontalZoomScale* graphZoom = nullptr;  // owned by graph
    ArrayViewer::LinearScalarTransformScale graphTransform{0, 1};
    ArrayViewer::ScalarValues1D<double> graphSeries;  // views the receiver's published histogram
};
