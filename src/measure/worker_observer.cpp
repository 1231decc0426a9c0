#include "measure/worker_observer.h"

#include "base/errors.h"

void RunWorkerBody(WorkerObserver& observer,
                   const char* unknownErrorText,
                   const std::function<void()>& body,
                   const std::function<void()>& afterBody) {
    // Nothing may leave a thread procedure: the error is handed to the observer instead,
    // after the body's own clean-up has run.
    CaughtError caught = RunCatchingErrors(body);
    try {
        if (afterBody) {
            afterBody();
        }
        if (caught.exception) {
            observer.ReportError(caught.exception.release());
        } else if (caught.unknown) {
            observer.ReportUnknownError(unknownErrorText);
        }
    } catch (...) {
        // The clean-up or the report failed; what is still owned here is freed with `caught`.
    }
}
