#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "base/socket_api.h"
#include "base/udp_socket.h"

int LastSocketError() {
    return errno;
}

std::string SocketErrorText(int code) {
    return std::system_category().message(code);
}

std::string ResolverErrorText(int status) {
    return status == EAI_SYSTEM ? SocketErrorText(errno) : gai_strerror(status);
}

UdpSocket UdpSocket::Open(const Endpoint& familyOf) {
    return UdpSocket(socket(familyOf.IsIpv6() ? AF_INET6 : AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0));
}

bool UdpSocket::SetNonBlocking() {
    const int flags = fcntl(handle_.Get(), F_GETFL);
    return Succeeded(flags != -1 && fcntl(handle_.Get(), F_SETFL, flags | O_NONBLOCK) == 0);
}

bool UdpSocket::SetTrafficClass(const Endpoint& familyOf, int value) {
    if (familyOf.IsIpv6()) {
        return Succeeded(setsockopt(handle_.Get(), IPPROTO_IPV6, IPV6_TCLASS, &value, sizeof(value)) == 0);
    }
    return Succeeded(setsockopt(handle_.Get(), IPPROTO_IP, IP_TOS, &value, sizeof(value)) == 0);
}

bool UdpSocket::EnableTrafficClassReceipt(const Endpoint& familyOf) {
    const int on = 1;
    if (familyOf.IsIpv6()) {
        // IPv4 datagrams reaching a dual-stack socket carry their TOS byte only with the
        // IPv4 option; a socket that takes IPv6 alone may refuse it, which changes nothing.
        setsockopt(handle_.Get(), IPPROTO_IP, IP_RECVTOS, &on, sizeof(on));
        return Succeeded(setsockopt(handle_.Get(), IPPROTO_IPV6, IPV6_RECVTCLASS, &on, sizeof(on)) == 0);
    }
    return Succeeded(setsockopt(handle_.Get(), IPPROTO_IP, IP_RECVTOS, &on, sizeof(on)) == 0);
}

SendResult UdpSocket::SendTo(const void* data, uint32_t length, const Endpoint& destination) {
    const ssize_t sent = sendto(handle_.Get(), data, length, 0, static_cast<const sockaddr*>(destination.Address()),
                                static_cast<socklen_t>(destination.Length()));
    if (sent >= 0) {
        return SendResult::Sent;
    }
    lastError_ = errno;
    return errno == EAGAIN || errno == EWOULDBLOCK ? SendResult::WouldBlock : SendResult::Failed;
}

namespace {

// The TOS / traffic class byte among a received datagram's control messages; -1 if absent.
int TrafficClassOf(msghdr& message) {
    for (cmsghdr* item = CMSG_FIRSTHDR(&message); item != nullptr; item = CMSG_NXTHDR(&message, item)) {
        if (item->cmsg_level == IPPROTO_IP && item->cmsg_type == IP_TOS) {
            return *CMSG_DATA(item);
        }
        if (item->cmsg_level == IPPROTO_IPV6 && item->cmsg_type == IPV6_TCLASS) {
            int value = 0;
            std::memcpy(&value, CMSG_DATA(item), sizeof(value));
            return value & 0xFF;
        }
    }
    return -1;
}

}  // namespace

ReceivedDatagram UdpSocket::ReceiveOn(SocketHandle handle, void* buffer, uint32_t size) {
    ReceivedDatagram received;
    received.bytes = static_cast<const uint8_t*>(buffer);
    iovec piece{buffer, size};
    alignas(cmsghdr) unsigned char control[CMSG_SPACE(sizeof(int)) * 2];
    msghdr message{};
    message.msg_name = received.source.storage_;
    message.msg_namelen = Endpoint::kStorageSize;
    message.msg_iov = &piece;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof(control);
    // MSG_TRUNC makes recvmsg return the datagram's real length, so a datagram that did not
    // fit is seen and refused as a whole, as Windows does.
    const ssize_t length = recvmsg(handle, &message, MSG_TRUNC);
    // A socket shut down to end the receive returns 0 bytes from nobody: no datagram.
    if (length < 0 || (length == 0 && message.msg_namelen == 0)) {
        return received;
    }
    if (static_cast<uint64_t>(length) > size) {
        received.truncated = true;
        received.fullLength = length;
        received.source.length_ = static_cast<int>(message.msg_namelen);
        return received;
    }
    received.length = length;
    received.trafficClass = TrafficClassOf(message);
    received.source.length_ = static_cast<int>(message.msg_namelen);
    return received;
}

int64_t UdpSocket::ReceiveFrom(void* buffer, uint32_t size, Endpoint& source) {
    socklen_t length = Endpoint::kStorageSize;
    const ssize_t received =
        recvfrom(handle_.Get(), buffer, size, MSG_TRUNC, reinterpret_cast<sockaddr*>(source.storage_), &length);
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
