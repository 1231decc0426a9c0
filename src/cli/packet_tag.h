#pragma once
// Keyed test packets: the sender puts a tag into bytes 32 to 47, the first 16 bytes of
// HMAC-SHA-256 under the run's key over the header (bytes 0 to 31) and everything after
// the tag; a receiver with the same key takes only packets whose tag it computes again.
// An end-of-run datagram carries its tag the same way, right after its own 24 bytes.
// docs/packet-layout.md shows where the tag sits among the packet's bytes.

#include <cstdint>
#include <memory>

#include "cli/packet_key.h"
#include "measure/end_of_run.h"
#include "measure/packet_finisher.h"
#include "sessions/datagram_authenticator.h"

inline constexpr uint32_t kPacketTagOffset = 32;
inline constexpr uint32_t kPacketTagSize = 16;
// The smallest keyed packet: the header and the tag.
inline constexpr uint32_t kKeyedPacketMinSize = kPacketTagOffset + kPacketTagSize;

// Where the tag of a datagram sits: after the header of a test packet or of an end of run.
inline uint32_t TagOffset(const uint8_t* datagram, int64_t length) {
    return IsEndOfRun(datagram, length) ? kEndOfRunSize : kPacketTagOffset;
}

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

    // Writes the tag of a test packet of at least kKeyedPacketMinSize bytes, or of an end of
    // run with room for it; a shorter one is left as it is (the command line refuses such
    // packet sizes with a key).
    void Finish(uint8_t* packet, uint32_t size) override;
    uint32_t TrailerSize() const override { return kPacketTagSize; }
    // Whether the datagram is long enough to carry a tag and carries the right one.
    bool Authentic(const uint8_t* datagram, int64_t length) override;

  private:
    struct Context;
    explicit PacketTag(std::unique_ptr<Context> context);
    // The tag of the datagram's bytes around the tag's place; false when the library failed.
    bool Compute(const uint8_t* packet, size_t size, size_t tagOffset, uint8_t (&tag)[kPacketTagSize]);

    std::unique_ptr<Context> context_;
};
