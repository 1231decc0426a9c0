#include "cli/packet_tag.h"

#include <openssl/core_names.h>
#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/params.h>

#include <cstring>

// The HMAC algorithm and its keyed context. Re-initialised without a key for each packet,
// the context keeps the key's inner and outer pads: hashing them again would double the
// cost of a small packet.
struct PacketTag::Context {
    ~Context() {
        EVP_MAC_CTX_free(context);
        EVP_MAC_free(mac);
    }
    EVP_MAC* mac = nullptr;
    EVP_MAC_CTX* context = nullptr;
};

std::shared_ptr<PacketTag> PacketTag::Make(const PacketKey& key) {
    auto context = std::make_unique<Context>();
    context->mac = EVP_MAC_fetch(nullptr, "HMAC", nullptr);
    context->context = context->mac != nullptr ? EVP_MAC_CTX_new(context->mac) : nullptr;
    char digest[] = "SHA256";
    const OSSL_PARAM parameters[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0),
                                     OSSL_PARAM_construct_end()};
    if (context->context == nullptr || EVP_MAC_init(context->context, key.data(), key.size(), parameters) != 1) {
        return nullptr;
    }
    return std::shared_ptr<PacketTag>(new PacketTag(std::move(context)));
}

PacketTag::PacketTag(std::unique_ptr<Context> context) : context_(std::move(context)) {}

PacketTag::~PacketTag() = default;

bool PacketTag::Compute(const uint8_t* packet, size_t size, size_t tagOffset, uint8_t (&tag)[kPacketTagSize]) {
    EVP_MAC_CTX* context = context_->context;
    uint8_t full[EVP_MAX_MD_SIZE] = {};
    size_t length = 0;
    const size_t afterTag = tagOffset + kPacketTagSize;
    const bool done = EVP_MAC_init(context, nullptr, 0, nullptr) == 1 &&
                      EVP_MAC_update(context, packet, tagOffset) == 1 &&
                      EVP_MAC_update(context, packet + afterTag, size - afterTag) == 1 &&
                      EVP_MAC_final(context, full, &length, sizeof(full)) == 1 && length >= kPacketTagSize;
    std::memcpy(tag, full, kPacketTagSize);
    return done;
}

void PacketTag::Finish(uint8_t* packet, uint32_t size) {
    uint8_t tag[kPacketTagSize];
    const uint32_t tagOffset = TagOffset(packet, size);
    if (size < tagOffset + kPacketTagSize) {
        return;
    }
    // A failed computation sends a tag of zeros, which no receiver takes: the loss shows it.
    if (!Compute(packet, size, tagOffset, tag)) {
        std::memset(tag, 0, sizeof(tag));
    }
    std::memcpy(packet + tagOffset, tag, kPacketTagSize);
}

bool PacketTag::Authentic(const uint8_t* datagram, int64_t length) {
    uint8_t tag[kPacketTagSize];
    const uint32_t tagOffset = TagOffset(datagram, length);
    if (length < static_cast<int64_t>(tagOffset + kPacketTagSize) ||
        !Compute(datagram, static_cast<size_t>(length), tagOffset, tag)) {
        return false;
    }
    // In constant time: how many leading bytes matched must not tell a forger anything.
    return CRYPTO_memcmp(tag, datagram + tagOffset, kPacketTagSize) == 0;
}
