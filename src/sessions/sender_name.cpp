#include "sessions/sender_name.h"

#include "measure/sender_name_block.h"

SenderName::SenderName() {
    agreed_.reserve(kMaxSenderNameBytes);
    candidate_.reserve(kMaxSenderNameBytes);
}

void SenderName::Take(std::optional<std::string_view> name, int64_t group) {
    const std::string_view carried = name.value_or(std::string_view());
    if (carried == agreed_) {
        agreeingGroups_ = 0;  // a dissenting datagram's count never outlives the sender's next packet
        return;
    }
    if (agreeingGroups_ == 0 || carried != candidate_) {
        candidate_.assign(carried);
        agreeingGroups_ = 1;
        latestGroup_ = group;
        return;
    }
    // Packets of one group, or copies of one datagram, count once.
    if (group > latestGroup_) {
        latestGroup_ = group;
        if (++agreeingGroups_ >= kNameAgreeingGroups) {
            agreed_.assign(candidate_);
            agreeingGroups_ = 0;
        }
    }
}

void SenderName::NewRun() {
    agreeingGroups_ = 0;
}

std::optional<std::string> SenderName::Agreed() const {
    return agreed_.empty() ? std::nullopt : std::optional<std::string>(agreed_);
}
