#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "base/socket_api.h"
#include "base/udp_socket.h"

UdpSocket UdpSocket::Open(const Endpoint& familyOf) {
    return UdpSocket(socket(familyOf.IsIpv6() ? AF_INET6 : AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
}

bool UdpSocket::SetNonBlocking() {
    const int flags = fcntl(handle_, F_GETFL);
    return flags != -1 && fcntl(handle_, F_SETFL, flags | O_NONBLOCK) == 0;
}

SendResult UdpSocket::SendTo(const void* data, uint32_t length, const Endpoint& destination) {
    const ssize_t sent = sendto(handle_, data, length, 0, static_cast<const sockaddr*>(destination.Address()),
                                static_cast<socklen_t>(destination.Length()));
    if (sent >= 0) {
        return SendResult::Sent;
    }
    return errno == EAGAIN || errno == EWOULDBLOCK ? SendResult::WouldBlock : SendResult::Failed;
}

int64_t UdpSocket::ReceiveOn(SocketHandle handle, void* buffer, uint32_t size) {
    // MSG_TRUNC makes recv return the datagram's real length, so a datagram that did not
    // fit is seen and refused as a whole, as Windows does.
    const ssize_t length = recv(handle, buffer, size, MSG_TRUNC);
    if (length < 0 || static_cast<uint64_t>(length) > size) {
        return -1;
    }
    return length;
}

int64_t UdpSocket::ReceiveFrom(void* buffer, uint32_t size, Endpoint& source) {
    socklen_t length = Endpoint::kStorageSize;
    const ssize_t received =
        recvfrom(handle_, buffer, size, MSG_TRUNC, reinterpret_cast<sockaddr*>(source.storage_), &length);
    if (received < 0 || static_cast<uint64_t>(received) > size) {
        return -1;
    }
    source.length_ = static_cast<int>(length);
    return received;
}

void UdpSocket::CloseHandle(SocketHandle handle) {
    shutdown(handle, SHUT_RDWR);
    close(handle);
}

bool UdpSocket::InterruptReceive(SocketHandle handle) {
    // shutdown is what wakes a recv blocked in another thread; close alone does not, and
    // closing under a running recv would free the descriptor number for reuse.
    shutdown(handle, SHUT_RDWR);
    return false;
}
