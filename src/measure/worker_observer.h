#pragma once
// What a worker thread tells its front end (the dialog or the command line tool). Every
// call comes on the worker thread.

#include <cstdint>
#include <functional>

struct Exception;
struct SenderStatistics;

// Told when a worker thread ends by an error, before the worker counts as stopped.
class WorkerObserver {
  public:
    virtual ~WorkerObserver() = default;

    // The thread ended by this error. The observer owns `e` (free it with DestroyException).
    virtual void ReportError(Exception* e) = 0;

    // The thread ended by an exception of another type; `text` is "unknown exception in
    // MainWindow::SenderThreadEntry" or "... ReceiverThreadEntry" (a static text).
    virtual void ReportUnknownError(const char* text) = 0;
};

// The sender's observer also shows the statistics once per period.
class SenderObserver : public WorkerObserver {
  public:
    // Once per period while no stop has been requested. Must not wait for the GUI thread
    // (which may be waiting for the sender to stop): post the text instead. `resetGeneration`
    // is the sender's ResetGeneration() as the record saw it: a text of an older generation
    // than a shown one was made before that reset.
    virtual void DisplaySenderStatistics(const SenderStatistics& statistics,
                                         uint32_t packetSize,
                                         uint64_t resetGeneration) = 0;
};

// Runs a worker thread's body, then `afterBody` (if any); an error that ended the body is
// then reported to `observer` (`unknownErrorText` for exceptions of other types). Nothing
// escapes.
void RunWorkerBody(WorkerObserver& observer,
                   const char* unknownErrorText,
                   const std::function<void()>& body,
                   const std::function<void()>& afterBody = {});
