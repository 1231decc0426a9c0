#pragma once
// The name a session shows for its sender. Without a key anyone can send datagrams from the
// sender's own address and port, so a name (or the lack of one) is taken only once accepted
// test packets of several groups of one run carry it: no single datagram, copied or not,
// changes what a report shows. A name is a label only; the session stays its address's.

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "measure/filler_blocks.h"
#include "measure/sender_name_block.h"

// Groups of one run whose packets must carry a name before it is shown.
inline constexpr int kNameAgreeingGroups = 3;

// Deciding bytes kept at most: a valid name's block.
inline constexpr size_t kSenderNameDecidingBytes = kFillerBlockHeaderSize + kMaxSenderNameBytes;

class SenderName {
  public:
    SenderName();

    // An accepted test packet of the current run of group `group`, carrying `name` (none: it
    // carries none), which `deciding` bytes of it decide (SenderNameDecidingBytes; empty:
    // not known). Allocates nothing.
    void Take(std::optional<std::string_view> name, int64_t group, std::span<const uint8_t> deciding = {});
    // Whether a packet whose name `deciding` bytes decide carries the agreed name as the latest
    // that carried it did: then it is taken, and needs no reading nor Take.
    bool Repeats(std::span<const uint8_t> deciding);

    // The sender started a new run: its group numbers begin again.
    void NewRun();

    // The name agreed on; none while none is (or the sender names itself no more).
    std::optional<std::string> Agreed() const;
    // Whether `name` (never empty) is the name agreed on.
    bool Is(std::string_view name) const { return !name.empty() && name == agreed_; }

  private:
    // Empty: no name (a valid name is never empty). Kept with room for the longest name, so
    // that taking one copies into memory already held.
    std::string agreed_;
    std::string candidate_;
    // The deciding bytes of the latest packet that carried the agreed name; none: size 0.
    std::array<uint8_t, kSenderNameDecidingBytes> settled_{};
    size_t settledSize_ = 0;
    int agreeingGroups_ = 0;   // of the candidate, in this run
    int64_t latestGroup_ = 0;  // the latest of them
};
