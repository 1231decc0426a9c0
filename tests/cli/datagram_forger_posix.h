#pragma once
// Forges datagrams with a real sender's own IPv4 loop-back address and port on them, which UDP
// cannot tell apart from its own: a raw socket reads a copy of each of its datagrams, and after
// the first packet of every other group (from group 4 on, once a run is confirmed) one hostile
// datagram, built from that packet, goes to the same receiver. Raw sockets need CAP_NET_RAW.

#include <netinet/in.h>
#include <netinet/ip.h>
#include <netinet/udp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <limits>
#include <optional>
#include <thread>
#include <vector>

#include "measure/test_packet.h"

class DatagramForger {
  public:
    // One kind of each way a single datagram steered a run.
    enum Kind {
        kRestartOnAnotherClock,  // group 0 at frequency 1
        kFarAhead,               // 2^20 groups ahead, sent now
        kTopOfGroupNumbers,
        kIndexBeyondGroupSize,  // index 65535 of the current group
        kNoStatedSize,          // a later packet of the current group, its size left out
        kFiveSecondsAgo,        // group 0 with a counter 5 s in the past
        kCopyFarAhead,          // the first packet again, its counter 1000 s on
        kRestartsFirstPacket,   // group 0, sent now: one packet confirms no restart
        kFrequencyZero,
        kNegativeFrequency,
        kShort,      // 31 bytes: no header
        kOversized,  // longer than the receiver's buffer
        kKinds
    };

    explicit DatagramForger(uint16_t senderPort) : senderPort_(senderPort) {
        sniffer_ = socket(AF_INET, SOCK_RAW, IPPROTO_UDP);
        forger_ = socket(AF_INET, SOCK_RAW, IPPROTO_RAW);  // the IP header is ours to write
        if (Ready()) {
            const int bytes = 4 << 20;  // other tests' traffic arrives here too
            setsockopt(sniffer_, SOL_SOCKET, SO_RCVBUF, &bytes, sizeof bytes);
            thread_ = std::thread([this] { Watch(); });
        }
    }
    ~DatagramForger() {
        Stop();
        close(sniffer_);
        close(forger_);
    }
    DatagramForger(const DatagramForger&) = delete;
    DatagramForger& operator=(const DatagramForger&) = delete;

    bool Ready() const { return sniffer_ >= 0 && forger_ >= 0; }

    // Ends the forging; how many of each kind were sent.
    const std::array<int64_t, kKinds>& Stop() {
        stop_ = true;
        if (thread_.joinable()) {
            thread_.join();
        }
        return sent_;
    }

  private:
    // Marks the forged datagrams, so that their copies are not taken for the sender's.
    static constexpr uint8_t kForgedTtl = 33;

    void Watch() {
        std::vector<uint8_t> datagram(65536);
        int64_t latestTrigger = std::numeric_limits<int64_t>::min();
        int next = 0;
        while (!stop_) {
            pollfd readable{sniffer_, POLLIN, 0};
            if (poll(&readable, 1, 50) <= 0) {
                continue;
            }
            const ssize_t length = recv(sniffer_, datagram.data(), datagram.size(), 0);
            const std::optional<Packet> real = SendersPacket(datagram.data(), length);
            if (!real || real->header.indexInGroup != 0 || real->header.groupNumber < 4 ||
                real->header.groupNumber % 2 != 0 || real->header.sendCounter == latestTrigger) {
                continue;
            }
            latestTrigger = real->header.sendCounter;
            Send(Forged(static_cast<Kind>(next), *real), real->toPort);
            ++sent_[next];
            next = (next + 1) % kKinds;
        }
    }

    struct Packet {
        std::vector<uint8_t> payload;
        TestPacketHeader header;
        uint16_t toPort = 0;  // network order
    };

    // A test packet the sender sent (not one of ours), from the raw socket's copy.
    std::optional<Packet> SendersPacket(const uint8_t* datagram, ssize_t length) const {
        if (length < static_cast<ssize_t>(sizeof(iphdr))) {
            return std::nullopt;
        }
        iphdr ip;
        std::memcpy(&ip, datagram, sizeof ip);
        const size_t udpAt = ip.ihl * 4u;
        udphdr udp;
        if (ip.protocol != IPPROTO_UDP || ip.ttl == kForgedTtl || ip.saddr != htonl(INADDR_LOOPBACK) ||
            static_cast<size_t>(length) < udpAt + sizeof udp + kPacketHeaderSize) {
            return std::nullopt;
        }
        std::memcpy(&udp, datagram + udpAt, sizeof udp);
        if (ntohs(udp.source) != senderPort_) {
            return std::nullopt;
        }
        Packet packet{{datagram + udpAt + sizeof udp, datagram + length}, {}, udp.dest};
        packet.header = ReadPacketHeader(packet.payload.data());
        return packet.header.counterFrequency > 0 ? std::optional<Packet>(packet) : std::nullopt;
    }

    static std::vector<uint8_t> Forged(Kind kind, const Packet& real) {
        std::vector<uint8_t> bytes = real.payload;
        const TestPacketHeader& h = real.header;
        const int64_t f = h.counterFrequency;
        const auto header = [&](int32_t index, int64_t group, int64_t counter, int64_t frequency) {
            WritePacketHeader(bytes.data(), TestPacketHeader{index, group, counter, frequency});
        };
        switch (kind) {
            case kRestartOnAnotherClock:
                header(0, 0, h.sendCounter, 1);
                break;
            case kFarAhead:
                header(0, h.groupNumber + (int64_t{1} << 20), h.sendCounter, f);
                break;
            case kTopOfGroupNumbers:
                header(0, std::numeric_limits<int64_t>::max() - 1, h.sendCounter, f);
                break;
            case kIndexBeyondGroupSize:
                header(65535, h.groupNumber, h.sendCounter, f);
                break;
            case kNoStatedSize:
                header(5, h.groupNumber, h.sendCounter, f);
                WriteGroupSize(bytes.data(), 0);
                break;
            case kFiveSecondsAgo:
                header(0, 0, h.sendCounter - 5 * f, f);
                break;
            case kCopyFarAhead:
                header(0, h.groupNumber, h.sendCounter + 1000 * f, f);
                break;
            case kRestartsFirstPacket:
                header(0, 0, h.sendCounter, f);
                break;
            case kFrequencyZero:
                header(0, h.groupNumber + 1, h.sendCounter, 0);
                break;
            case kNegativeFrequency:
                header(0, h.groupNumber + 1, h.sendCounter, -f);
                break;
            case kShort:
                bytes.resize(kPacketHeaderSize - 1);
                break;
            case kOversized:
                bytes.resize(4096);
                break;
            case kKinds:
                break;
        }
        return bytes;
    }

    // From the sender's address and port to the receiver's.
    void Send(const std::vector<uint8_t>& payload, uint16_t toPort) const {
        iphdr ip{};
        ip.version = 4;
        ip.ihl = 5;
        ip.ttl = kForgedTtl;
        ip.protocol = IPPROTO_UDP;
        ip.saddr = htonl(INADDR_LOOPBACK);
        ip.daddr = htonl(INADDR_LOOPBACK);
        udphdr udp{};
        udp.source = htons(senderPort_);
        udp.dest = toPort;
        udp.len = htons(static_cast<uint16_t>(sizeof udp + payload.size()));  // no checksum: 0 is allowed
        ip.tot_len = htons(static_cast<uint16_t>(sizeof ip + sizeof udp + payload.size()));
        std::vector<uint8_t> datagram(sizeof ip + sizeof udp);
        std::memcpy(datagram.data(), &ip, sizeof ip);
        std::memcpy(datagram.data() + sizeof ip, &udp, sizeof udp);
        datagram.insert(datagram.end(), payload.begin(), payload.end());
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        sendto(forger_, datagram.data(), datagram.size(), 0, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    }

    uint16_t senderPort_;
    int sniffer_ = -1;
    int forger_ = -1;
    std::atomic<bool> stop_{false};
    std::array<int64_t, kKinds> sent_{};
    std::thread thread_;
};
