#include "sessions/sender_name.h"

#include <algorithm>

#include "measure/sender_name_block.h"

SenderName::SenderName() {
    agreed_.reserve(kMaxSenderNameBytes);
    candidate_.reserve(kMaxSenderNameBytes);
}

void SenderName::Take(std::optional<std::string_view> name, int64_t group, std::span<const uint8_t> deciding) {
    const std::string_view carried = name.value_or(std::string_view());
    if (carried == agreed_) {
        agreeingGroups_ = 0;  // a dissenting datagram's count never outlives the sender's next packet
        if (!deciding.empty() && deciding.size() <= settled_.size()) {
            std::copy(deciding.begin(), deciding.end(), settled_.begin());
            settledSize_ = deciding.size();
        }
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
            settledSize_ = 0;
            agreeingGroups_ = 0;
        }
    }
}

// Once a name is agreed, nearly every packet carries it in the same bytes: comparing them costs
// less than reading the name again.
bool SenderName::Repeats(std::span<const uint8_t> deciding) {
    if (settledSize_ == 0 || deciding.size() != settledSize_ ||
        !std::equal(deciding.begin(), deciding.end(), settled_.begin())) {
        return false;
    }
    agreeingGroups_ = 0;  // as Take does for the agreed name
    return true;
}

void SenderName::NewRun() {
    agreeingGroups_ = 0;
}

std::optional<std::string> SenderName::Agreed() const {
    return agreed_.empty() ? std::nullopt : std::optional<std::string>(agreed_);
}
