#include "measure/worker_observer.h"

#include "base/errors.h"

void RunWorkerBody(WorkerObserver& observer,
                   const char* unknownErrorText,
                   const std::function<void()>& body,
                   const std::function<void()>& afterBody) {
    // Nothing may leave a thread procedure: the error is handed to the observer instead,
    // after the body's own clean-up has run.
    Exception* error = nullptr;
    bool unknownError = false;
    try {
        body();
    } catch (Exception* e) {
        error = e;
    } catch (...) {
        unknownError = true;
    }
    try {
        if (afterBody) {
            afterBody();
        }
        if (error != nullptr) {
            Exception* reported = error;
            error = nullptr;
            observer.ReportError(reported);
        } else if (unknownError) {
            observer.ReportUnknownError(unknownErrorText);
        }
    } catch (...) {
        DestroyException(error);
    }
}
