#include "base/errors.h"

#include <cstring>

#include "base/format_string.h"

namespace {

char* NewEmptyText() {
    char* text = new char[1];
    text[0] = '\0';
    return text;
}

}  // namespace

Exception::Exception(const char* message, bool ownsMessage, int32_t code)
    : ownsMessage(ownsMessage), message(message), details(NewEmptyText()), code(code) {}

void DestroyException(Exception* e) {
    if (e == nullptr) {
        return;
    }
    if (e->ownsMessage) {
        delete[] e->message;
    }
    delete[] e->details;
    delete[] e->reason;
    delete e;
}

Exception* TakeOverException(Exception* e) {
    Exception* taken = new Exception(e->message, e->ownsMessage, e->code);
    // The new object's constructor made its own empty details; take the old ones instead.
    delete[] taken->details;
    taken->details = e->details;
    taken->reason = e->reason;
    e->ownsMessage = false;
    e->details = nullptr;
    e->reason = nullptr;
    DestroyException(e);
    return taken;
}

std::string ExceptionText(const Exception& e) {
    if (e.details == nullptr) {
        return e.message ? e.message : "";
    }
    return FormatToString("%s\r\n%s", {e.message, static_cast<const char*>(e.details)});
}

CaughtError RunCatchingErrors(const std::function<void()>& call) {
    CaughtError caught;
    try {
        call();
    } catch (Exception* e) {
        caught.exception.reset(e);
    } catch (...) {
        caught.unknown = true;
    }
    return caught;
}

void ThrowError(const char* format, int32_t line) {
    throw new Exception(FormatString(format, line), true, -1);
}

namespace {

[[noreturn]] void ThrowWithReason(Exception* e, const std::string& reason) {
    // Owned until thrown: a reason that cannot be allocated must not leak the error.
    ExceptionOwner owner(e);
    if (!reason.empty()) {
        e->reason = new char[reason.size() + 1];
        std::memcpy(e->reason, reason.c_str(), reason.size() + 1);
    }
    throw owner.release();
}

}  // namespace

void ThrowErrorWithReason(const char* format, int32_t line, const std::string& reason, int32_t code) {
    ThrowWithReason(new Exception(FormatString(format, line), true, code), reason);
}

std::string ExceptionReason(const Exception& e) {
    return e.reason == nullptr ? std::string() : std::string(e.reason);
}

void ThrowFixed(const char* text, const std::string& reason) {
    ThrowWithReason(new Exception(text, false, -1), reason);
}
