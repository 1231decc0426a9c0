#include <climits>

#include "base/socket_api.h"
#include "base/udp_socket.h"

int LastSocketError() {
    return WSAGetLastError();
}

std::string SocketErrorText(int code) {
    char text[512] = "";
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                        static_cast<DWORD>(code), 0, text, sizeof(text), nullptr);
    std::string result(text, length);
    // The system's texts end in a full stop and a line break.
    while (!result.empty() && (result.back() == '\n' || result.back() == '\r' || result.back() == '.')) {
        result.pop_back();
    }
    return result.empty() ? "error " + std::to_string(code) : result;
}

std::string ResolverErrorText(int status) {
    return SocketErrorText(status);  // getaddrinfo's statuses are socket error codes
}

UdpSocket UdpSocket::Open(const Endpoint& familyOf) {
    return UdpSocket(
        WSASocketA(familyOf.IsIpv6() ? AF_INET6 : AF_INET, SOCK_DGRAM, 0, nullptr, 0, WSA_FLAG_OVERLAPPED));
}

bool UdpSocket::SetNonBlocking() {
    u_long nonBlocking = 1;
    return Succeeded(ioctlsocket(handle_.Get(), FIONBIO, &nonBlocking) == 0);
}

// Windows takes IP_TOS and marks nothing, and cannot tell a received datagram's class: the
// command line refuses DSCP there instead of running unmarked.
bool UdpSocket::SetTrafficClass(const Endpoint&, int) {
    lastError_ = WSAEOPNOTSUPP;
    return false;
}

bool UdpSocket::EnableTrafficClassReceipt(const Endpoint&) {
    lastError_ = WSAEOPNOTSUPP;
    return false;
}

SendResult UdpSocket::SendTo(const void* data, uint32_t length, const Endpoint& destination) {
    WSABUF piece;
    piece.len = length;
    piece.buf = static_cast<char*>(const_cast<void*>(data));
    DWORD sent = 0;
    if (WSASendTo(handle_.Get(), &piece, 1, &sent, 0, static_cast<const sockaddr*>(destination.Address()),
                  destination.Length(), nullptr, nullptr) == 0) {
        return SendResult::Sent;
    }
    lastError_ = WSAGetLastError();
    return lastError_ == WSAEWOULDBLOCK ? SendResult::WouldBlock : SendResult::Failed;
}

ReceivedDatagram UdpSocket::ReceiveOn(SocketHandle handle, void* buffer, uint32_t size) {
    ReceivedDatagram received;
    received.bytes = static_cast<const uint8_t*>(buffer);
    int sourceLength = Endpoint::kStorageSize;
    const int length = recvfrom(handle, static_cast<char*>(buffer), size > INT_MAX ? INT_MAX : static_cast<int>(size),
                                0, reinterpret_cast<sockaddr*>(received.source.storage_), &sourceLength);
    if (length != SOCKET_ERROR) {
        received.length = length;
        received.source.length_ = sourceLength;
    } else if (WSAGetLastError() == WSAEMSGSIZE) {
        // Longer than the buffer: dropped whole; Windows does not tell the real length.
        received.truncated = true;
        received.source.length_ = sourceLength;
    }
    return received;
}

int64_t UdpSocket::ReceiveFrom(void* buffer, uint32_t size, Endpoint& source) {
    int length = Endpoint::kStorageSize;
    const int received =
        recvfrom(handle_.Get(), static_cast<char*>(buffer), size > INT_MAX ? INT_MAX : static_cast<int>(size), 0,
                 reinterpret_cast<sockaddr*>(source.storage_), &length);
    if (received == SOCKET_ERROR) {
        return -1;
    }
    source.length_ = length;
    return received;
}

void UdpSocket::CloseHandle(SocketHandle handle) {
    shutdown(handle, SD_BOTH);
    closesocket(handle);
}

bool UdpSocket::InterruptReceive(SocketHandle handle) {
    // On Windows closing the socket is what ends a blocking recv in another thread.
    CloseHandle(handle);
    return true;
}
