#include "cli/error_text.h"

#include <cstring>

#include "base/errors.h"
#include "measure/engine_errors.h"

namespace {

struct Wording {
    EngineError error;
    // What failed. The reason follows after `joint`: ": " when it is the system's text alone,
    // " " when it starts with what the call concerned (an address, a family, a size).
    const char* what;
    const char* joint;
};

constexpr Wording kWordings[] = {
    {EngineError::SendFailed, "cannot send UDP to", " "},
    {EngineError::SenderAlreadyStarted, "the sender was started twice", ": "},
    {EngineError::SenderThreadNotCreated, "cannot start the sender's thread", ": "},
    {EngineError::SenderNotStarted, "the sender was stopped when it did not run", ": "},
    {EngineError::SenderDidNotStop, "the sender did not stop in time", ": "},
    {EngineError::SenderLibraryNotStarted, "cannot start the socket library for the sender", ": "},
    {EngineError::SenderSocketNotOpened, "cannot open a UDP socket for", " "},
    {EngineError::SenderBufferNotSet, "cannot set the send buffer to", " "},
    {EngineError::SenderNotBound, "cannot bind UDP", " "},
    {EngineError::SenderNotNonBlocking, "cannot make the sender's socket non-blocking", ": "},
    {EngineError::SenderNotMarked, "cannot mark the packets with", " "},
    {EngineError::ReceiverAlreadyStarted, "the receiver was started twice", ": "},
    {EngineError::ReceiverThreadNotCreated, "cannot start the receiver's thread", ": "},
    {EngineError::ReceiverNotStarted, "the receiver was stopped when it did not run", ": "},
    {EngineError::ReceiverDidNotStop, "the receiver did not stop in time", ": "},
    {EngineError::ReceiverLibraryNotStarted, "cannot start the socket library for the receiver", ": "},
    {EngineError::ReceiverSocketNotOpened, "cannot open a UDP socket for", " "},
    {EngineError::ReceiverNotBound, "cannot bind UDP", " "},
};

// An error of another part (a fixed text, or the dialog's form with CR LF) on one line.
std::string OneLine(const Exception& e) {
    std::string text = e.message ? e.message : "";
    if (e.details != nullptr && e.details[0] != '\0') {
        text += "\r\n" + std::string(e.details);
    }
    for (size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at)) {
        text.replace(at, 2, " / ");
    }
    return text;
}

}  // namespace

std::string CliErrorText(const Exception& e) {
    const std::string reason = ExceptionReason(e);
    std::string what = OneLine(e);
    const char* joint = ": ";
    if (const std::optional<EngineError> error = EngineErrorOf(e)) {
        for (const Wording& wording : kWordings) {
            if (wording.error == *error) {
                what = wording.what;
                joint = wording.joint;
            }
        }
    }
    return "veltrane-cli: " + what + (reason.empty() ? "" : joint + reason);
}

std::string CliUnknownErrorText(const char* text) {
    const char* side = std::strcmp(text, kSenderUnknownErrorText) == 0     ? "sender"
                       : std::strcmp(text, kReceiverUnknownErrorText) == 0 ? "receiver"
                                                                           : nullptr;
    return side ? "veltrane-cli: the " + std::string(side) + " ended by an unexpected error"
                : "veltrane-cli: " + std::string(text);
}
