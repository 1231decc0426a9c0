#include "udp_probe.h"

#include <ws2tcpip.h>

namespace {

// Winsock for the whole driver, started once.
bool StartWinsock() {
    static const bool started = [] {
        WSADATA data;
        return WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}

}  // namespace

UdpProbe::UdpProbe(uint16_t port) {
    if (!StartWinsock()) {
        return;
    }
    socket_ = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
    if (socket_ == INVALID_SOCKET) {
        return;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof(address);
    if (bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        closesocket(socket_);
        socket_ = INVALID_SOCKET;
        return;
    }
    port_ = ntohs(address.sin_port);
}

UdpProbe::~UdpProbe() {
    if (socket_ != INVALID_SOCKET) {
        closesocket(socket_);
    }
}

std::vector<uint8_t> UdpProbe::Receive(uint32_t timeoutMs) {
    if (socket_ == INVALID_SOCKET) {
        return {};
    }
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(socket_, &readable);
    timeval timeout{static_cast<long>(timeoutMs / 1000), static_cast<long>(timeoutMs % 1000) * 1000};
    if (select(0, &readable, nullptr, nullptr, &timeout) != 1) {
        return {};
    }
    std::vector<uint8_t> datagram(65536);
    const int length = recv(socket_, reinterpret_cast<char*>(datagram.data()), static_cast<int>(datagram.size()), 0);
    datagram.resize(length > 0 ? length : 0);
    return datagram;
}

bool UdpProbe::SendTo(uint16_t port, const std::vector<uint8_t>& datagram) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int length = static_cast<int>(datagram.size());
    return socket_ != INVALID_SOCKET && sendto(socket_, reinterpret_cast<const char*>(datagram.data()), length, 0,
                                               reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == length;
}

uint16_t FreeUdpPort() {
    // The port is free again once the probe has gone; the system hands out ports in turn, so
    // it is not given to the next test at once.
    return UdpProbe().Port();
}
