#pragma once
// The one error type of the program and its helpers. Errors are created with new,
// thrown as Exception*, and whoever catches one shows it and calls DestroyException.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

struct Exception {
    Exception(const char* message, bool ownsMessage, int32_t code);
    Exception(const Exception&) = delete;
    Exception& operator=(const Exception&) = delete;

    bool ownsMessage;
    const char* message;
    char* details;
    int32_t code;
    // What the failed call concerned and the system's reason ("0.0.0.0:13014: Address already
    // in use"), or null. The command line words it into its own text; the dialog's box keeps
    // its own text and never shows it.
    char* reason = nullptr;

  private:
    friend void DestroyException(Exception*);
    friend Exception* TakeOverException(Exception*);
    ~Exception() = default;
};

// Frees the message (when owned), the details and the object itself. Accepts null.
void DestroyException(Exception* e);

// Moves the texts of `e` into a new Exception and frees `e`; used by handlers that clean
// up before they throw an error on.
Exception* TakeOverException(Exception* e);

// The text an error box shows: the message, CR LF, then the details.
std::string ExceptionText(const Exception& e);

// Owns a caught Exception* for the rest of a scope.
struct ExceptionDeleter {
    void operator()(Exception* e) const { DestroyException(e); }
};
using ExceptionOwner = std::unique_ptr<Exception, ExceptionDeleter>;

// What a call let escape: an Exception (owned here), or an exception of another type.
struct CaughtError {
    ExceptionOwner exception;
    bool unknown = false;
};

// Runs `call` and keeps what it throws instead of letting it go on; for the edges of threads.
CaughtError RunCatchingErrors(const std::function<void()>& call);

// Throws a new Exception in the program's standard error form: `format` holds one "%i"
// for the line number, e.g. "error in A::B: what\r\nfile: winmain\r\nline: %i".
[[noreturn]] void ThrowError(const char* format, int32_t line);

// As ThrowError, with the system's reason attached (see Exception::reason) and the thrower's
// own `code`, by which a front end tells the errors apart without reading their texts.
[[noreturn]] void ThrowErrorWithReason(const char* format, int32_t line, const std::string& reason, int32_t code = -1);

// The reason attached to `e`, empty when there is none.
std::string ExceptionReason(const Exception& e);

// Throws a new Exception carrying a fixed text that it does not own, and a reason if one is given.
[[noreturn]] void ThrowFixed(const char* text, const std::string& reason = {});
