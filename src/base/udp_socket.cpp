#include "base/udp_socket.h"

#include <cstddef>
#include <cstring>

#include "base/socket_api.h"
#include "base/socket_library.h"

static_assert(sizeof(sockaddr_storage) <= 128, "Endpoint storage too small");

Endpoint::Endpoint() {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    std::memcpy(storage_, &address, sizeof(address));
    length_ = sizeof(address);
}

Endpoint Endpoint::Ipv4(uint32_t hostOrderAddress, uint16_t port) {
    Endpoint endpoint;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(hostOrderAddress);
    std::memcpy(endpoint.storage_, &address, sizeof(address));
    return endpoint;
}

Endpoint Endpoint::AnyOfFamily(const Endpoint& familyOf, uint16_t port) {
    if (!familyOf.IsIpv6()) {
        return Ipv4(0, port);
    }
    Endpoint endpoint;
    sockaddr_in6 address{};  // in6addr_any is all zeros
    address.sin6_family = AF_INET6;
    address.sin6_port = htons(port);
    std::memcpy(endpoint.storage_, &address, sizeof(address));
    endpoint.length_ = sizeof(address);
    return endpoint;
}

std::optional<Endpoint> Endpoint::Resolve(const char* host, uint16_t port, std::string* reason) {
    if (host == nullptr || *host == '\0') {
        return std::nullopt;
    }
    SocketLibrary library;  // the resolver needs it on Windows
    if (!library.Started()) {
        return std::nullopt;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    const int status = getaddrinfo(host, nullptr, &hints, &found);
    if (status != 0 || found == nullptr) {
        if (reason != nullptr) {
            *reason = ResolverErrorText(status);
        }
        return std::nullopt;
    }
    std::optional<Endpoint> result;
    if (found->ai_addrlen <= static_cast<size_t>(kStorageSize)) {
        Endpoint endpoint;
        std::memcpy(endpoint.storage_, found->ai_addr, found->ai_addrlen);
        endpoint.length_ = static_cast<int>(found->ai_addrlen);
        // The port sits at the same offset in both address families.
        const uint16_t networkPort = htons(port);
        if (endpoint.IsIpv6()) {
            std::memcpy(endpoint.storage_ + offsetof(sockaddr_in6, sin6_port), &networkPort, sizeof(networkPort));
        } else {
            std::memcpy(endpoint.storage_ + offsetof(sockaddr_in, sin_port), &networkPort, sizeof(networkPort));
        }
        result = endpoint;
    }
    freeaddrinfo(found);
    return result;
}

bool Endpoint::IsIpv6() const {
    sockaddr_storage address{};
    std::memcpy(&address, storage_, sizeof(address));
    return address.ss_family == AF_INET6;
}

uint16_t Endpoint::Port() const {
    uint16_t networkPort = 0;
    const size_t offset = IsIpv6() ? offsetof(sockaddr_in6, sin6_port) : offsetof(sockaddr_in, sin_port);
    std::memcpy(&networkPort, storage_ + offset, sizeof(networkPort));
    return ntohs(networkPort);
}

std::string Endpoint::ToString() const {
    char text[INET6_ADDRSTRLEN] = "";
    if (IsIpv6()) {
        sockaddr_in6 address{};
        std::memcpy(&address, storage_, sizeof(address));
        inet_ntop(AF_INET6, &address.sin6_addr, text, sizeof(text));
        std::string result = "[";
        result.append(text).append("]:").append(std::to_string(Port()));
        return result;
    }
    sockaddr_in address{};
    std::memcpy(&address, storage_, sizeof(address));
    inet_ntop(AF_INET, &address.sin_addr, text, sizeof(text));
    return std::string(text) + ":" + std::to_string(Port());
}

namespace {

constexpr unsigned char kMappedPrefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xff, 0xff};

// The 16 address bytes of an IPv6 endpoint, or null for IPv4.
const unsigned char* MappedIpv4Bytes(const sockaddr_in6& address) {
    const unsigned char* bytes = reinterpret_cast<const unsigned char*>(&address.sin6_addr);
    return std::memcmp(bytes, kMappedPrefix, sizeof(kMappedPrefix)) == 0 ? bytes + sizeof(kMappedPrefix) : nullptr;
}

// The key's layout: family (4 or 6), port (2 bytes), scope (4 bytes), pad, address (16 bytes),
// stored as three words: a comparison reads it back as words at once, and a key stored in
// other pieces (bytes, or two words read as one) stalls that read.
uint64_t KeyHead(uint8_t family, uint16_t port, uint32_t scope) {
    return family | uint64_t{port} << 8 | uint64_t{scope} << 24;
}

EndpointKey KeyOf(uint64_t head, uint64_t addressLow, uint64_t addressHigh) {
    static_assert(sizeof(EndpointKey) == 3 * sizeof(uint64_t));
    EndpointKey key;
    std::memcpy(key.data(), &head, sizeof(head));
    std::memcpy(key.data() + sizeof(head), &addressLow, sizeof(addressLow));
    std::memcpy(key.data() + 2 * sizeof(head), &addressHigh, sizeof(addressHigh));
    return key;
}

uint32_t Ipv4Word(const void* bytes) {
    uint32_t word = 0;
    std::memcpy(&word, bytes, sizeof(word));
    return word;
}

}  // namespace

size_t EndpointKeyHash::operator()(const EndpointKey& key) const {
    uint64_t hash = 14695981039346656037ull;
    for (const unsigned char byte : key) {
        hash = (hash ^ byte) * 1099511628211ull;
    }
    return static_cast<size_t>(hash);
}

EndpointKey Endpoint::SenderKey() const {
    static_assert(kKeyBytesWords * sizeof(uint64_t) >= sizeof(sockaddr_in6));
    if (!IsIpv6()) {
        sockaddr_in address{};
        std::memcpy(&address, storage_, sizeof(address));
        return KeyOf(KeyHead(4, Port(), 0), Ipv4Word(&address.sin_addr), 0);
    }
    sockaddr_in6 address{};
    std::memcpy(&address, storage_, sizeof(address));
    if (const unsigned char* mapped = MappedIpv4Bytes(address)) {
        return KeyOf(KeyHead(4, Port(), 0), Ipv4Word(mapped), 0);
    }
    uint64_t addressWords[2];
    std::memcpy(addressWords, &address.sin6_addr, sizeof(addressWords));
    return KeyOf(KeyHead(6, Port(), address.sin6_scope_id), addressWords[0], addressWords[1]);
}

Endpoint Endpoint::Unmapped() const {
    if (!IsIpv6()) {
        return *this;
    }
    sockaddr_in6 address{};
    std::memcpy(&address, storage_, sizeof(address));
    const unsigned char* ipv4 = MappedIpv4Bytes(address);
    if (ipv4 == nullptr) {
        return *this;
    }
    uint32_t networkAddress = 0;
    std::memcpy(&networkAddress, ipv4, sizeof(networkAddress));
    return Ipv4(ntohl(networkAddress), Port());
}

bool Endpoint::operator==(const Endpoint& other) const {
    return SenderKey() == other.SenderKey();
}

std::string OpenFailure(const Endpoint& familyOf, int code) {
    return std::string(familyOf.IsIpv6() ? "IPv6" : "IPv4") + ": " + SocketErrorText(code);
}

std::string BindFailure(const Endpoint& local, int code) {
    return local.ToString() + ": " + SocketErrorText(code);
}

std::string SendFailure(const Endpoint& destination, int code) {
    return destination.ToString() + ": " + SocketErrorText(code);
}

void SocketTraits::Close(Handle handle) {
    UdpSocket::CloseHandle(handle);
}

bool UdpSocket::Succeeded(bool succeeded) {
    if (!succeeded) {
        lastError_ = LastSocketError();
    }
    return succeeded;
}

bool UdpSocket::SetSendBufferSize(uint32_t bytes) {
    const int size = static_cast<int>(bytes);
    return Succeeded(
        setsockopt(handle_.Get(), SOL_SOCKET, SO_SNDBUF, reinterpret_cast<const char*>(&size), sizeof(size)) == 0);
}

bool UdpSocket::Bind(const Endpoint& local) {
    return Succeeded(bind(handle_.Get(), static_cast<const sockaddr*>(local.Address()), local.Length()) == 0);
}

bool UdpSocket::SetIpv6Only(bool only) {
    const int value = only ? 1 : 0;
    return Succeeded(setsockopt(handle_.Get(), IPPROTO_IPV6, IPV6_V6ONLY, reinterpret_cast<const char*>(&value),
                                sizeof(value)) == 0);
}

std::optional<Endpoint> UdpSocket::LocalEndpoint() const {
    Endpoint endpoint;
    SocketLength length = Endpoint::kStorageSize;
    if (getsockname(handle_.Get(), reinterpret_cast<sockaddr*>(endpoint.storage_), &length) != 0) {
        return std::nullopt;
    }
    endpoint.length_ = static_cast<int>(length);
    return endpoint;
}
