#pragma once
// UDP sockets for the measuring engine: socket addresses, a move-only owning socket and
// the handle-level calls the receiver needs for its exclusive close.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>

#include "base/unique_handle.h"

#ifdef _WIN32
using SocketHandle = uintptr_t;                                        // SOCKET
inline constexpr SocketHandle kNoSocket = ~static_cast<uintptr_t>(0);  // INVALID_SOCKET
#else
using SocketHandle = int;
inline constexpr SocketHandle kNoSocket = -1;
#endif

// What tells senders apart, as bytes to compare and hash: see Endpoint::SenderKey.
using EndpointKey = std::array<unsigned char, 24>;

// A hash of a key for the tables of senders (FNV-1a over its bytes).
struct EndpointKeyHash {
    size_t operator()(const EndpointKey& key) const;
};

// An IPv4 or IPv6 socket address with its length, as the socket calls take it.
class Endpoint {
  public:
    Endpoint();  // IPv4 0.0.0.0:0

    // An IPv4 address and port, both given in host byte order.
    static Endpoint Ipv4(uint32_t hostOrderAddress, uint16_t port);

    // Every local address (0.0.0.0 or ::) of the family of `familyOf`, with `port`.
    static Endpoint AnyOfFamily(const Endpoint& familyOf, uint16_t port);

    // A host name or an IPv4/IPv6 literal with a port; nullopt when it cannot be resolved,
    // with the resolver's reason in `reason` when given.
    static std::optional<Endpoint> Resolve(const char* host, uint16_t port, std::string* reason = nullptr);

    bool IsIpv6() const;

    // The largest UDP payload one datagram of this family carries: 65507 bytes over IPv4,
    // 65527 over IPv6 (the 65535 of the UDP length less the headers).
    uint32_t MaxDatagramPayload() const { return IsIpv6() ? 65527 : 65507; }
    uint16_t Port() const;
    std::string ToString() const;  // "127.0.0.1:13014", "[::1]:13014"

    // The same address and port: an IPv4 sender seen through a dual-stack socket (as a
    // v4-mapped IPv6 address) equals itself seen through an IPv4 one.
    bool operator==(const Endpoint& other) const;
    bool operator!=(const Endpoint& other) const { return !(*this == other); }

    // The family, address, port and scope, a v4-mapped IPv6 address reduced to IPv4: equal
    // keys are equal endpoints.
    EndpointKey SenderKey() const;

    // Whether the bytes SenderKey reads are those of `other`: then both have one key, found
    // without building it (four words compared). Endpoints of different bytes may still share
    // a key (an IPv4 sender seen through either socket).
    bool SameKeyBytes(const Endpoint& other) const {
        uint64_t a[kKeyBytesWords];
        uint64_t b[kKeyBytesWords];
        std::memcpy(a, storage_, sizeof(a));
        std::memcpy(b, other.storage_, sizeof(b));
        uint64_t differ = 0;
        for (int word = 0; word < kKeyBytesWords; ++word) {
            differ |= a[word] ^ b[word];
        }
        return differ == 0;
    }

    // An IPv4 sender seen through a dual-stack socket as the IPv4 endpoint it is; any other
    // endpoint as it is.
    Endpoint Unmapped() const;

    const void* Address() const { return storage_; }
    int Length() const { return length_; }

  private:
    static constexpr int kStorageSize = 128;
    static constexpr int kKeyBytesWords = 4;  // cover an IPv6 address (28 bytes), which holds the most
    alignas(8) unsigned char storage_[kStorageSize] = {};
    int length_ = 0;

    friend class UdpSocket;
    friend class DatagramBatch;
};

enum class SendResult { Sent, WouldBlock, Failed };

// One received datagram as it travels from the receive to every consumer: its bytes, where
// it came from, how it was marked and when it arrived.
struct ReceivedDatagram {
    const uint8_t* bytes = nullptr;  // the receive buffer, valid until the next receive into it
    int64_t length = -1;             // bytes received; -1 on an error or when the datagram did not fit
    bool truncated = false;          // the datagram was longer than the buffer and is dropped whole
    int64_t fullLength = 0;          // a truncated datagram's real length; 0 where the system does not tell
    int trafficClass = -1;           // the IPv4 TOS / IPv6 traffic class byte it arrived with; -1: not read
    Endpoint source;                 // where it came from (set when `length` is not -1 or it is truncated)
    // The arrival, a reading of the receiver's clock: the one reading taken right after the
    // receive returned. Every analysis of the datagram measures from it, never from a reading
    // of its own, which would add the time the datagram waited for its consumer.
    int64_t arrival = 0;
};

// The calling thread's last socket error code (errno, WSAGetLastError) and its system text.
int LastSocketError();
std::string SocketErrorText(int code);

// The reasons an error carries: what the failed call concerned and the system's text.
std::string OpenFailure(const Endpoint& familyOf, int code);     // "IPv6: ..."
std::string BindFailure(const Endpoint& local, int code);        // "0.0.0.0:13014: ..."
std::string SendFailure(const Endpoint& destination, int code);  // "127.0.0.1:13014: ..."

// How a socket handle's owner closes it: as UdpSocket::CloseHandle does.
struct SocketTraits {
    using Handle = SocketHandle;
    static Handle None() { return kNoSocket; }
    static void Close(Handle handle);
};

// One owned UDP socket (move-only). Close shuts it down both ways, then closes it.
class UdpSocket {
  public:
    UdpSocket() = default;
    explicit UdpSocket(SocketHandle handle) : handle_(handle) {}

    // A new datagram socket of the endpoint's family (overlapped-capable on Windows);
    // invalid on failure. The socket library must be started.
    static UdpSocket Open(const Endpoint& familyOf);

    bool Valid() const { return handle_.Valid(); }
    SocketHandle Get() const { return handle_.Get(); }
    SocketHandle Release() { return handle_.Release(); }
    void Close() { handle_.Reset(); }

    // These return false on failure and keep the system's error code for LastError.
    bool SetSendBufferSize(uint32_t bytes);
    bool SetNonBlocking();
    bool Bind(const Endpoint& local);
    // An IPv6 socket that also takes IPv4 (as v4-mapped addresses) when `only` is false.
    bool SetIpv6Only(bool only);
    // Marks every datagram sent with this TOS / traffic class byte (DSCP << 2 | ECN).
    // False on Windows, which accepts the option and marks nothing.
    bool SetTrafficClass(const Endpoint& familyOf, int value);
    // Makes ReceiveOn tell each datagram's TOS / traffic class (IPv4-mapped ones too on a
    // dual-stack socket). False where the system cannot (Windows).
    bool EnableTrafficClassReceipt(const Endpoint& familyOf);
    std::optional<Endpoint> LocalEndpoint() const;  // after Bind or the first send

    // Asks for a receive buffer of `bytes` (past the system's limit where the process may)
    // and returns the size the system granted; nullopt when it refused.
    std::optional<int64_t> SetReceiveBufferSize(uint32_t bytes);
    // Makes the kernel stamp each datagram's arrival, for DatagramBatch. False where the
    // system cannot (Windows): the arrival is then the clock read after the receive.
    bool EnableKernelStamps();
    // Makes each datagram carry the kernel's count of datagrams this socket dropped, for
    // DatagramBatch. False where the system cannot tell (Windows).
    bool EnableDropCount();

    // One datagram of `length` bytes; WouldBlock when a non-blocking socket's buffer is full.
    SendResult SendTo(const void* data, uint32_t length, const Endpoint& destination);

    // The error code of the last call above that failed.
    int LastError() const { return lastError_; }

    // Plain blocking receive of one datagram and its source. A datagram longer than `size`
    // is an error, dropped whole, and told as truncated.
    static ReceivedDatagram ReceiveOn(SocketHandle handle, void* buffer, uint32_t size);

    // A blocking receive like ReceiveOn that also tells where the datagram came from.
    int64_t ReceiveFrom(void* buffer, uint32_t size, Endpoint& source);

    // Shuts a handle down both ways and closes it.
    static void CloseHandle(SocketHandle handle);

    // Makes a receive blocked on `handle` in another thread return. POSIX shuts the socket
    // down and returns false: close it once that thread has left the receive. Windows
    // closes it and returns true.
    static bool InterruptReceive(SocketHandle handle);

  private:
    bool Succeeded(bool succeeded);  // keeps the error code of a failure

    UniqueHandle<SocketTraits> handle_;
    int lastError_ = 0;
};
