#pragma once
// UDP sockets for the measuring engine: socket addresses, a move-only owning socket and
// the handle-level calls the receiver needs for its exclusive close.

#include <cstdint>
#include <optional>
#include <string>

#ifdef _WIN32
using SocketHandle = uintptr_t;                                        // SOCKET
inline constexpr SocketHandle kNoSocket = ~static_cast<uintptr_t>(0);  // INVALID_SOCKET
#else
using SocketHandle = int;
inline constexpr SocketHandle kNoSocket = -1;
#endif

// An IPv4 or IPv6 socket address with its length, as the socket calls take it.
class Endpoint {
  public:
    Endpoint();  // IPv4 0.0.0.0:0

    // An IPv4 address and port, both given in host byte order.
    static Endpoint Ipv4(uint32_t hostOrderAddress, uint16_t port);

    // Every local address (0.0.0.0 or ::) of the family of `familyOf`, with `port`.
    static Endpoint AnyOfFamily(const Endpoint& familyOf, uint16_t port);

    // A host name or an IPv4/IPv6 literal with a port; nullopt when it cannot be resolved.
    static std::optional<Endpoint> Resolve(const char* host, uint16_t port);

    bool IsIpv6() const;

    // The largest UDP payload one datagram of this family carries: 65507 bytes over IPv4,
    // 65527 over IPv6 (the 65535 of the UDP length less the headers).
    uint32_t MaxDatagramPayload() const { return IsIpv6() ? 65527 : 65507; }
    uint16_t Port() const;
    std::string ToString() const;  // "127.0.0.1:13014", "[::1]:13014"

    const void* Address() const { return storage_; }
    int Length() const { return length_; }

  private:
    static constexpr int kStorageSize = 128;
    alignas(8) unsigned char storage_[kStorageSize] = {};
    int length_ = 0;

    friend class UdpSocket;
};

enum class SendResult { Sent, WouldBlock, Failed };

// One owned UDP socket (move-only). Close shuts it down both ways, then closes it.
class UdpSocket {
  public:
    UdpSocket() = default;
    explicit UdpSocket(SocketHandle handle) : handle_(handle) {}
    ~UdpSocket() { Close(); }
    UdpSocket(UdpSocket&& other) noexcept : handle_(other.Release()) {}
    UdpSocket& operator=(UdpSocket&& other) noexcept;
    UdpSocket(const UdpSocket&) = delete;
    UdpSocket& operator=(const UdpSocket&) = delete;

    // A new datagram socket of the endpoint's family (overlapped-capable on Windows);
    // invalid on failure. The socket library must be started.
    static UdpSocket Open(const Endpoint& familyOf);

    bool Valid() const { return handle_ != kNoSocket; }
    SocketHandle Handle() const { return handle_; }
    SocketHandle Release();
    void Close();

    bool SetSendBufferSize(uint32_t bytes);
    bool SetNonBlocking();
    bool Bind(const Endpoint& local);
    std::optional<Endpoint> LocalEndpoint() const;  // after Bind or the first send

    // One datagram of `length` bytes; WouldBlock when a non-blocking socket's buffer is full.
    SendResult SendTo(const void* data, uint32_t length, const Endpoint& destination);

    // Blocking receive, see ReceiveOn.
    int64_t Receive(void* buffer, uint32_t size) { return ReceiveOn(handle_, buffer, size); }

    // Plain blocking receive of one datagram: its length, or -1 on an error, including a
    // datagram longer than `size` (it is dropped whole).
    static int64_t ReceiveOn(SocketHandle handle, void* buffer, uint32_t size);

    // A blocking receive like ReceiveOn that also tells where the datagram came from.
    int64_t ReceiveFrom(void* buffer, uint32_t size, Endpoint& source);

    // Shuts a handle down both ways and closes it.
    static void CloseHandle(SocketHandle handle);

    // Makes a receive blocked on `handle` in another thread return. POSIX shuts the socket
    // down and returns false: close it once that thread has left the receive. Windows
    // closes it and returns true.
    static bool InterruptReceive(SocketHandle handle);

  private:
    SocketHandle handle_ = kNoSocket;
};
