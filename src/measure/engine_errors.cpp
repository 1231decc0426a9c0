#include "measure/engine_errors.h"

#include <iterator>

#include "base/errors.h"
#include "base/socket_library.h"
#include "base/udp_socket.h"

namespace {

struct ErrorText {
    EngineError error;
    const char* format;  // one "%i" for the line
    int line;
};

// Fixed texts: users, their notes and their scripts know them from the dialog, the line
// numbers included, so they never follow the code around them.
constexpr ErrorText kErrorTexts[] = {
    {EngineError::SendFailed, "error in MainWindow::SendPacket: WSASendTo failed\r\nfile: winmain\r\nline: %i", 390},
    {EngineError::SenderAlreadyStarted,
     "error in MainWindow::StartSenderThread: thread already started\r\nfile: winmain\r\nline: %i", 237},
    {EngineError::SenderThreadNotCreated,
     "error in MainWindow::StartSenderThread: CreateThread failed\r\nfile: winmain\r\nline: %i", 238},
    {EngineError::SenderNotStarted,
     "error in MainWindow::StopSenderThread: thread was not started\r\nfile: winmain\r\nline: %i", 245},
    {EngineError::SenderDidNotStop,
     "error in MainWindow::StopSenderThread: thread did not stop\r\nfile: winmain\r\nline: %i", 246},
    {EngineError::SenderLibraryNotStarted,
     "error in MainWindow::SenderThreadEntry: WSAStartup failed\r\nfile: winmain\r\nline: %i", 272},
    {EngineError::SenderSocketNotOpened,
     "error in MainWindow::SenderThreadEntry: WSASocket failed\r\nfile: winmain\r\nline: %i", 279},
    // Two blanks before "failed", as the dialog has always shown it.
    {EngineError::SenderBufferNotSet,
     "error in MainWindow::SenderThreadEntry: setsockopt(SO_SNDBUF)  failed\r\nfile: winmain\r\nline: %i", 303},
    {EngineError::SenderNotBound, "error in MainWindow::SenderThreadEntry: bind failed\r\nfile: winmain\r\nline: %i",
     320},
    {EngineError::SenderNotNonBlocking,
     "error in MainWindow::SenderThreadEntry: ioctlsocket failed\r\nfile: winmain\r\nline: %i", 314},
    // The dialog never marks its packets: this one has no line.
    {EngineError::SenderNotMarked, "the system refused to mark the packets with a DSCP value", 0},
    {EngineError::ReceiverAlreadyStarted,
     "error in MainWindow::StartReceiverThread: thread already started\r\nfile: winmain\r\nline: %i", 436},
    {EngineError::ReceiverThreadNotCreated,
     "error in MainWindow::StartReceiverThread: CreateThread failed\r\nfile: winmain\r\nline: %i", 437},
    {EngineError::ReceiverNotStarted,
     "error in MainWindow::StopReceiverThread: thread was not started\r\nfile: winmain\r\nline: %i", 445},
    {EngineError::ReceiverDidNotStop,
     "error in MainWindow::StopReceiverThread: thread did not stop\r\nfile: winmain\r\nline: %i", 446},
    {EngineError::ReceiverLibraryNotStarted,
     "error in MainWindow::ReceiverThreadEntry: WSAStartup failed\r\nfile: winmain\r\nline: %i", 510},
    {EngineError::ReceiverSocketNotOpened,
     "error in MainWindow::ReceiverThreadEntry: WSASocket failed\r\nfile: winmain\r\nline: %i", 517},
    {EngineError::ReceiverNotBound,
     "error in MainWindow::ReceiverThreadEntry: bind failed\r\nfile: winmain\r\nline: %i", 530},
};

constexpr int32_t kErrorCount = static_cast<int32_t>(EngineError::ReceiverNotBound) + 1;

}  // namespace

const char* const kSenderUnknownErrorText = "unknown exception in MainWindow::SenderThreadEntry";
const char* const kReceiverUnknownErrorText = "unknown exception in MainWindow::ReceiverThreadEntry";

void ThrowEngineError(EngineError error, const std::string& reason) {
    static_assert(std::size(kErrorTexts) == kErrorCount, "every engine error has its text");
    for (const ErrorText& text : kErrorTexts) {
        if (text.error == error) {
            // A text without a line holds no "%i" either: the formatter leaves it as it is.
            ThrowErrorWithReason(text.format, text.line, reason, static_cast<int32_t>(error));
        }
    }
    ThrowFixed("unknown exception");
}

std::optional<EngineError> EngineErrorOf(const Exception& e) {
    if (e.code < 0 || e.code >= kErrorCount) {
        return std::nullopt;
    }
    return static_cast<EngineError>(e.code);
}

UdpSocket OpenWorkerSocket(const SocketLibrary& library,
                           const Endpoint& familyOf,
                           EngineError libraryError,
                           EngineError socketError) {
    if (!library.Started()) {
        ThrowEngineError(libraryError);
    }
    UdpSocket socket = UdpSocket::Open(familyOf);
    if (!socket.Valid()) {
        ThrowEngineError(socketError, OpenFailure(familyOf, LastSocketError()));
    }
    return socket;
}
