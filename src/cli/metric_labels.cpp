#include "cli/metric_labels.h"

#include <algorithm>

namespace {

bool IsNameStart(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
}

bool IsValidName(const std::string& name) {
    return !name.empty() && IsNameStart(name[0]) &&
           std::all_of(name.begin(), name.end(), [](char c) { return IsNameStart(c) || (c >= '0' && c <= '9'); });
}

// Well-formed UTF-8 (no overlong forms, surrogates or code points beyond U+10FFFF): a scraper
// rejects the page otherwise.
bool IsUtf8(const std::string& text) {
    size_t i = 0;
    while (i < text.size()) {
        const auto byte = static_cast<unsigned char>(text[i]);
        int follow = 0;
        unsigned char low = 0x80, high = 0xBF;  // the allowed range of the first continuation byte
        if (byte < 0x80) {
            follow = 0;
        } else if (byte >= 0xC2 && byte <= 0xDF) {
            follow = 1;
        } else if (byte >= 0xE0 && byte <= 0xEF) {
            follow = 2;
            low = byte == 0xE0 ? 0xA0 : 0x80;
            high = byte == 0xED ? 0x9F : 0xBF;
        } else if (byte >= 0xF0 && byte <= 0xF4) {
            follow = 3;
            low = byte == 0xF0 ? 0x90 : 0x80;
            high = byte == 0xF4 ? 0x8F : 0xBF;
        } else {
            return false;
        }
        if (i + follow >= text.size()) {
            return false;  // cut short
        }
        for (int k = 1; k <= follow; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if (next < (k == 1 ? low : 0x80) || next > (k == 1 ? high : 0xBF)) {
                return false;
            }
        }
        i += follow + 1;
    }
    return true;
}

}  // namespace

std::optional<MetricLabel> ParseMetricLabel(const std::string& text, std::string& error) {
    const size_t equals = text.find('=');
    if (equals == std::string::npos) {
        error = "--label '" + text + "': expected NAME=VALUE, such as site=branch-12";
        return std::nullopt;
    }
    MetricLabel label{text.substr(0, equals), text.substr(equals + 1)};
    if (!IsValidName(label.name)) {
        error = "--label '" + text + "': '" + label.name +
                "' is not a label name; a name is letters, digits and _, and does not begin with a digit";
    } else if (label.name.compare(0, 2, "__") == 0) {
        error = "--label '" + text + "': names beginning with __ are reserved for Prometheus";
    } else if (label.name == "source" || label.name == "sender" || label.name == "destination" || label.name == "le") {
        error = "--label '" + text + "': the metrics set '" + label.name + "' themselves; choose another name";
    } else if (!IsUtf8(label.value)) {
        error = "--label '" + label.name + "=...': the value is not UTF-8 text";
    } else {
        return label;
    }
    return std::nullopt;
}

std::optional<std::vector<MetricLabel>> ParseMetricLabels(const std::vector<std::string>& texts, std::string& error) {
    std::vector<MetricLabel> labels;
    for (const std::string& text : texts) {
        std::optional<MetricLabel> label = ParseMetricLabel(text, error);
        if (!label) {
            return std::nullopt;
        }
        const auto same = [&](const MetricLabel& other) { return other.name == label->name; };
        if (std::any_of(labels.begin(), labels.end(), same)) {
            error = "--label: '" + label->name + "' is given twice";
            return std::nullopt;
        }
        labels.push_back(std::move(*label));
    }
    return labels;
}
