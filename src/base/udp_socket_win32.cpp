#include <climits>

#include "base/socket_api.h"
#include "base/udp_socket.h"

UdpSocket UdpSocket::Open(const Endpoint& familyOf) {
    return UdpSocket(
        WSASocketA(familyOf.IsIpv6() ? AF_INET6 : AF_INET, SOCK_DGRAM, 0, nullptr, 0, WSA_FLAG_OVERLAPPED));
}

bool UdpSocket::SetNonBlocking() {
    u_long nonBlocking = 1;
    return ioctlsocket(handle_, FIONBIO, &nonBlocking) == 0;
}

SendResult UdpSocket::SendTo(const void* data, uint32_t length, const Endpoint& destination) {
    WSABUF piece;
    piece.len = length;
    piece.buf = static_cast<char*>(const_cast<void*>(data));
    DWORD sent = 0;
    if (WSASendTo(handle_, &piece, 1, &sent, 0, static_cast<const sockaddr*>(destination.Address()),
                  destination.Length(), nullptr, nullptr) == 0) {
        return SendResult::Sent;
    }
    return WSAGetLastError() == WSAEWOULDBLOCK ? SendResult::WouldBlock : SendResult::Failed;
}

int64_t UdpSocket::ReceiveOn(SocketHandle handle, void* buffer, uint32_t size) {
    // A datagram longer than the buffer fails with WSAEMSGSIZE: an error like any other.
    const int length = recv(handle, static_cast<char*>(buffer), size > INT_MAX ? INT_MAX : static_cast<int>(size), 0);
    return length == SOCKET_ERROR ? -1 : length;
}

int64_t UdpSocket::ReceiveFrom(void* buffer, uint32_t size, Endpoint& source) {
    int length = Endpoint::kStorageSize;
    const int received =
        recvfrom(handle_, static_cast<char*>(buffer), size > INT_MAX ? INT_MAX : static_cast<int>(size), 0,
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
