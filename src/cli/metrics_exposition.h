#pragma once
// The far end's sessions as a page for a Prometheus scraper: the text exposition format
// (version 0.0.4) or, when the scraper asks for it, OpenMetrics 1.0.

#include <string>
#include <vector>

#include "cli/metric_labels.h"
#include "cli/report.h"
#include "sessions/session_figures.h"

enum class ExpositionFormat { Prometheus, OpenMetrics };

inline constexpr const char* kPrometheusContentType = "text/plain; version=0.0.4; charset=utf-8";
inline constexpr const char* kOpenMetricsContentType = "application/openmetrics-text; version=1.0.0; charset=utf-8";

// The format a scraper's Accept header prefers: OpenMetrics only when it ranks it above the
// classic text (or above anything, "*/*").
ExpositionFormat FormatForAccept(const std::string& accept);

// Every session of `report`, labelled with its source and then `labels`. Figures that do not
// exist yet are left out; a session that ended is shown one last time (final) and then no more.
std::string MetricsExposition(const SessionsReport& report,
                              const std::vector<MetricLabel>& labels,
                              ExpositionFormat format);

// What a sending run shows its scrapers.
struct SenderFigures {
    std::string destination;  // "192.0.2.1:13014", the label of every sample
    SenderStatistics statistics;
    LoadReport load;
};

// The sender's counters and its load, labelled with the destination and then `labels`;
// before the first report (null) a page without samples.
std::string SenderMetricsExposition(const SenderFigures* figures,
                                    const std::vector<MetricLabel>& labels,
                                    ExpositionFormat format);
