#pragma once
// The labels a user adds to every metric (--label NAME=VALUE), checked before a run starts:
// a scraper refuses the whole page at one bad name, which would surface only at the first scrape.

#include <optional>
#include <string>
#include <vector>

struct MetricLabel {
    std::string name;
    std::string value;
};

// "NAME=VALUE" as a label, or nullopt with the reason in `error`. The name follows the
// Prometheus rules, is none of the labels the metrics set themselves (source, sender,
// destination, le) and does not begin with "__" (reserved); the value is any UTF-8 text,
// empty included.
std::optional<MetricLabel> ParseMetricLabel(const std::string& text, std::string& error);

// The labels of several --label options, or nullopt with the reason in `error` (a name given
// twice included).
std::optional<std::vector<MetricLabel>> ParseMetricLabels(const std::vector<std::string>& texts, std::string& error);
