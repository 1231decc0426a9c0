#pragma once
// The errors the measuring engine throws, each with its fixed text.

#include <optional>
#include <string>

struct Exception;
class Endpoint;
class SocketLibrary;
class UdpSocket;

enum class EngineError {
    SendFailed,
    SenderAlreadyStarted,
    SenderThreadNotCreated,
    SenderNotStarted,
    SenderDidNotStop,
    SenderLibraryNotStarted,
    SenderSocketNotOpened,
    SenderBufferNotSet,
    SenderNotBound,
    SenderNotNonBlocking,
    SenderNotMarked,
    ReceiverAlreadyStarted,
    ReceiverThreadNotCreated,
    ReceiverNotStarted,
    ReceiverDidNotStop,
    ReceiverLibraryNotStarted,
    ReceiverSocketNotOpened,
    ReceiverNotBound,
};

// The texts of a worker that ended by an exception of another type than Exception.
extern const char* const kSenderUnknownErrorText;
extern const char* const kReceiverUnknownErrorText;

// Throws the error's Exception, with the system's reason when one is given; the Exception's
// code is the error, for EngineErrorOf.
[[noreturn]] void ThrowEngineError(EngineError error, const std::string& reason = {});

// The engine's error that `e` is, or nullopt when another part threw it.
std::optional<EngineError> EngineErrorOf(const Exception& e);

// A worker's first steps: the socket library (kept started by `library`) and a socket of the
// family of `familyOf`; throws `libraryError` or `socketError` when either fails.
UdpSocket OpenWorkerSocket(const SocketLibrary& library,
                           const Endpoint& familyOf,
                           EngineError libraryError,
                           EngineError socketError);
