#include "cli/dscp.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace {

constexpr int kMaxDscp = 63;
constexpr int kExpedited = 46;

std::optional<int> Digits(const std::string& text) {
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || value < 0) {
        return std::nullopt;
    }
    return value;
}

}  // namespace

std::optional<int> ParseDscp(const std::string& text) {
    std::string upper = text;
    std::transform(upper.begin(), upper.end(), upper.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    if (upper == "EF") {
        return kExpedited;
    }
    if (upper == "BE" || upper == "DF") {
        return 0;
    }
    // AFxy: class x of 1 to 4, drop precedence y of 1 to 3.
    if (upper.size() == 4 && upper.rfind("AF", 0) == 0) {
        const int precedenceClass = upper[2] - '0';
        const int drop = upper[3] - '0';
        if (precedenceClass >= 1 && precedenceClass <= 4 && drop >= 1 && drop <= 3) {
            return precedenceClass * 8 + drop * 2;
        }
        return std::nullopt;
    }
    if (upper.size() == 3 && upper.rfind("CS", 0) == 0) {
        const int selector = upper[2] - '0';
        return selector >= 0 && selector <= 7 ? std::optional<int>(selector * 8) : std::nullopt;
    }
    const std::optional<int> number = Digits(upper);
    return number && *number <= kMaxDscp ? number : std::nullopt;
}
