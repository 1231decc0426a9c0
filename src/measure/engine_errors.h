#pragma once
// The errors the measuring engine throws, each with its fixed text.

#include <string>

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
    ReceiverAlreadyStarted,
    ReceiverThreadNotCreated,
    ReceiverNotStarted,
    ReceiverDidNotStop,
    ReceiverLibraryNotStarted,
    ReceiverSocketNotOpened,
    ReceiverNotBound,
};

// Throws the error's Exception, with the system's reason when one is given.
[[noreturn]] void ThrowEngineError(EngineError error, const std::string& reason = {});

// A worker's first steps: the socket library (kept started by `library`) and a socket of the
// family of `familyOf`; throws `libraryError` or `socketError` when either fails.
UdpSocket OpenWorkerSocket(const SocketLibrary& library,
                           const Endpoint& familyOf,
                           EngineError libraryError,
                           EngineError socketError);
