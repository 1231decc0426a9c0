#pragma once
// Keyed test packets: the sender puts a tag into bytes 32 to 47, the first 16 bytes of
// HMAC-SHA-256 under the run's key over the header (bytes 0 to 31) and everything after
// the tag; a receiver with the same key takes only packets whose tag it computes again.
// docs/packet-layout.md shows where the tag sits among the packet's bytes.

#include <cstdint>
#include <memory>

#include "cli/packet_key.h"
#include "measure/packet_finisher.h"
#include "sessions/datagram_authenticator.h"

inline constexpr uint32_t kPacketTagOffset = 32;
inline constexpr uint32_t kPacketTagSize = 16;
// The smallest keyed packet: the header and the tag.
inline constexpr uint32_t kKeyedPacketMinSize = kPacketTagOffset + kPacketTagSize;

// Signs (as the sender's finisher) or checks (as the sessions' authenticator) with one key.
// It keeps a prepared keyed context, so that a packet costs only its own bytes; one object
// serves one thread.
class PacketTag final : public PacketFinisher, public DatagramAuthenticator {
  public:
    // Null when the crypto library cannot set up HMAC-SHA-256.
    static std::shared_ptr<PacketTag> Make(const PacketKey& key);
    ~PacketTag() override;
    PacketTag(const PacketTag&) = delete;
    PacketTag& operator=(const PacketTag&) = delete;

    // Writes the tag of a packet of at least kKeyedPacketMinSize bytes; a shorter one is
    // left as it is (the command line refuses such sizes with a key).
    void Finish(uint8_t* packet, uint32_t size) override;
    // Whether the datagram is long enough to carry a tag and carries the right one.
    bool Authentic(const uint8_t* datagram, int64_t length) override;

  private:
    struct Context;
    explicit PacketTag(std::unique_ptr<Context> context);
    // The tag of the packet's bytes around the tag's place; false when the library failed.
    bool Compute(const uint8_t* packet, size_t size, uint8_t (&tag)[kPacketTagSize]);

    std::unique_ptr<Context> context_;
};
