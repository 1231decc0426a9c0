#include "cli/metrics_exposition.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <optional>
#include <set>

namespace {

enum class Kind { Counter, Gauge, Histogram };

// One number of a session, absent when the figure does not exist yet.
using Reading = std::function<std::optional<double>(const SessionFigures&)>;

struct Family {
    const char* name;  // a counter's without "_total": OpenMetrics names the family so
    Kind kind;
    const char* help;
    Reading reading;  // unused for the histogram
};

// The name of a family's samples: a counter's takes "_total" in both formats, which name
// the family itself without it (OpenMetrics) or with it (Prometheus' text format).
std::string SampleName(const Family& family) {
    return family.name + std::string(family.kind == Kind::Counter ? "_total" : "");
}

std::optional<double> Count(int64_t count) {
    return static_cast<double>(count);
}

std::optional<double> Seconds(std::optional<double> ms) {
    return ms ? std::optional<double>(*ms / 1000.0) : std::nullopt;
}

// A percentile of the last interval's jitter.
Reading IntervalJitterSeconds(double DistributionSummary::*percentile) {
    return [percentile](const SessionFigures& s) {
        return s.interval.jitter ? Seconds((*s.interval.jitter).*percentile) : std::nullopt;
    };
}

// A percentile of the last interval's delay variation (RFC 5481).
Reading IntervalPdvSeconds(double PdvSummary::*percentile) {
    return [percentile](const SessionFigures& s) {
        return s.interval.pdv ? Seconds((*s.interval.pdv).*percentile) : std::nullopt;
    };
}

const std::vector<Family>& Families() {
    static const std::vector<Family> families = {
        {"veltrane_test_packets_received", Kind::Counter, "Test packets received, every packet of every group.",
         [](const SessionFigures& s) { return Count(s.packets.received); }},
        {"veltrane_test_packets_lost", Kind::Counter,
         "Test packets lost, every packet of every group; a packet counts once its group is more than 64 groups "
         "behind the latest.",
         [](const SessionFigures& s) { return Count(s.packets.lost); }},
        {"veltrane_first_packets_lost", Kind::Counter, "Groups whose first packet was lost.",
         [](const SessionFigures& s) { return Count(s.packets.firstPacketsLost); }},
        {"veltrane_not_test_packets", Kind::Counter, "Datagrams from the source that are not test packets.",
         [](const SessionFigures& s) { return Count(s.notTestPackets); }},
        {"veltrane_received_bytes", Kind::Counter, "Bytes of every datagram received from the source.",
         [](const SessionFigures& s) { return Count(s.record.bytesReceived); }},
        {"veltrane_jitter_p50_seconds", Kind::Gauge, "Median jitter of the last report interval.",
         IntervalJitterSeconds(&DistributionSummary::p50)},
        {"veltrane_jitter_p95_seconds", Kind::Gauge, "95th percentile of the jitter of the last report interval.",
         IntervalJitterSeconds(&DistributionSummary::p95)},
        {"veltrane_jitter_p99_seconds", Kind::Gauge, "99th percentile of the jitter of the last report interval.",
         IntervalJitterSeconds(&DistributionSummary::p99)},
        {"veltrane_rfc3550_jitter_seconds", Kind::Gauge, "Interarrival jitter as RTP endpoints report it (RFC 3550).",
         [](const SessionFigures& s) { return Seconds(s.rfc3550JitterMs); }},
        {"veltrane_delay_p50_seconds", Kind::Gauge, "Median relative one-way delay of the session.",
         [](const SessionFigures& s) { return s.delay ? Seconds(s.delay->p50) : std::nullopt; }},
        {"veltrane_pdv_p50_seconds", Kind::Gauge,
         "Median delay above the session's least delay (clock skew removed) in the last report interval.",
         IntervalPdvSeconds(&PdvSummary::p50)},
        {"veltrane_pdv_p95_seconds", Kind::Gauge,
         "95th percentile of the delay above the session's least delay in the last report interval.",
         IntervalPdvSeconds(&PdvSummary::p95)},
        {"veltrane_pdv_p99_seconds", Kind::Gauge,
         "99th percentile of the delay above the session's least delay in the last report interval: the jitter "
         "buffer that lets 99 % of the packets play out.",
         IntervalPdvSeconds(&PdvSummary::p99)},
        {"veltrane_clock_skew_ppm", Kind::Gauge,
         "Clock skew: slope of the relative one-way delay over the receiver's time, positive when the delay grows.",
         [](const SessionFigures& s) { return s.skewPpm; }},
        {"veltrane_mos", Kind::Gauge,
         "Mean opinion score (E-model) of a call of the judged codec over the session's path.",
         [](const SessionFigures& s) { return s.quality ? std::optional<double>(s.quality->mos) : std::nullopt; }},
        {"veltrane_r_factor", Kind::Gauge, "E-model rating R of a call of the judged codec over the session's path.",
         [](const SessionFigures& s) { return s.quality ? std::optional<double>(s.quality->rFactor) : std::nullopt; }},
        {"veltrane_last_packet_age_seconds", Kind::Gauge,
         "Time since the session's latest test packet, at the last report: a sender silent for more than three of "
         "its periods loses every packet it should have sent.",
         [](const SessionFigures& s) { return std::optional<double>(s.lastPacketAgeSeconds); }},
        {"veltrane_jitter_seconds", Kind::Histogram, "Absolute jitter of the session.", nullptr},
    };
    return families;
}

// Go's and the OpenMetrics' spellings of the special values; otherwise the shortest text that
// reads back as the same double.
std::string Number(double value) {
    if (std::isnan(value)) {
        return "NaN";
    }
    if (std::isinf(value)) {
        return value > 0 ? "+Inf" : "-Inf";
    }
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::general);
    return std::string(text, result.ptr);
}

// Backslash, double quote and line feed are the characters a label value escapes.
std::string Escaped(const std::string& value) {
    std::string out;
    out.reserve(value.size());
    for (const char c : value) {
        if (c == '\\' || c == '"') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else {
            out += c;
        }
    }
    return out;
}

std::string LabelSet(const std::vector<MetricLabel>& labels) {
    if (labels.empty()) {
        return {};
    }
    std::string out = "{";
    for (const MetricLabel& label : labels) {
        out += (out.size() > 1 ? "," : "") + label.name + "=\"" + Escaped(label.value) + "\"";
    }
    return out + "}";
}

// A session shows up once per page: when a source's session ended and the same source started
// a new one within the interval, the open one stands (its counters restart, which a scraper
// takes as a counter reset); two samples of one series would spoil the whole page.
std::vector<const SessionFigures*> DistinctSources(const SessionsReport& report) {
    std::vector<const SessionFigures*> shown;
    std::set<std::string> sources;
    for (const bool final : {false, true}) {
        for (const SessionFigures& session : report.sessions) {
            if (session.final == final && sources.insert(session.source.ToString()).second) {
                shown.push_back(&session);
            }
        }
    }
    return shown;
}

// A session's own labels: its source, and its sender's name once its packets agree on one.
std::vector<MetricLabel> SessionLabels(const SessionFigures& session) {
    std::vector<MetricLabel> labels{{"source", session.source.ToString()}};
    if (session.senderName) {
        labels.push_back({"sender", *session.senderName});
    }
    return labels;
}

class Page {
  public:
    Page(const std::vector<MetricLabel>& labels, ExpositionFormat format) : labels_(labels), format_(format) {}

    void Header(const Family& family) {
        const bool counter = family.kind == Kind::Counter;
        const std::string name = OpenMetrics() ? family.name : SampleName(family);
        const char* type = counter ? "counter" : family.kind == Kind::Gauge ? "gauge" : "histogram";
        text_ += "# HELP " + name + " " + family.help + "\n# TYPE " + name + " " + type + "\n";
    }

    void Sample(const std::string& name, const std::vector<MetricLabel>& ownLabels, double value) {
        std::vector<MetricLabel> all = ownLabels;
        all.insert(all.end(), labels_.begin(), labels_.end());
        text_ += name + LabelSet(all) + " " + Number(value) + "\n";
    }

    void Histogram(const std::string& name, const std::vector<MetricLabel>& session, const JitterBuckets& buckets) {
        auto bucket = [&session](const std::string& bound) {
            std::vector<MetricLabel> labels = session;
            labels.push_back({"le", bound});
            return labels;
        };
        for (size_t i = 0; i < kJitterBucketBoundsMs.size(); ++i) {
            Sample(name + "_bucket", bucket(Number(kJitterBucketBoundsMs[i] / 1000.0)),
                   static_cast<double>(buckets.atOrBelow[i]));
        }
        Sample(name + "_bucket", bucket("+Inf"), static_cast<double>(buckets.count));
        Sample(name + "_sum", session, buckets.sumMs / 1000.0);
        Sample(name + "_count", session, static_cast<double>(buckets.count));
    }

    bool OpenMetrics() const { return format_ == ExpositionFormat::OpenMetrics; }

    std::string Finish() { return OpenMetrics() ? text_ + "# EOF\n" : text_; }

  private:
    const std::vector<MetricLabel>& labels_;
    ExpositionFormat format_;
    std::string text_;
};

void AddFamily(Page& page, const Family& family, const std::vector<const SessionFigures*>& sessions) {
    std::vector<std::pair<const SessionFigures*, double>> samples;
    for (const SessionFigures* session : sessions) {
        if (family.kind == Kind::Histogram) {
            samples.emplace_back(session, 0.0);  // the buckets always exist, empty at first
        } else if (const std::optional<double> value = family.reading(*session)) {
            samples.emplace_back(session, *value);
        }
    }
    if (samples.empty()) {
        return;  // no session has the figure yet: no family either
    }
    page.Header(family);
    const std::string name = SampleName(family);
    for (const auto& [session, value] : samples) {
        const std::vector<MetricLabel> labels = SessionLabels(*session);
        if (family.kind == Kind::Histogram) {
            page.Histogram(name, labels, session->jitterBuckets);
        } else {
            page.Sample(name, labels, value);
        }
    }
}

// The receiving host's own counts, every source together. Each is on the page from the first
// scrape on, at 0 before its first event: an alert on its increase then sees the first one too.
void AddHostFamilies(Page& page, const SessionsReport& report) {
    const std::pair<Family, int64_t> totals[] = {
        {{"veltrane_not_test_datagrams", Kind::Counter,
          "Datagrams that were no test packets, from every source, those without a session included (the "
          "truncated and refused ones among them).",
          nullptr},
         report.notTestPackets},
        {{"veltrane_truncated_datagrams", Kind::Counter,
          "Datagrams longer than the receive buffer (--size), dropped whole.", nullptr},
         report.truncatedDatagrams},
        {{"veltrane_unauthenticated_packets", Kind::Counter, "Test packets whose tag did not verify under the key.",
          nullptr},
         report.unauthenticatedPackets},
        {{"veltrane_refused_datagrams", Kind::Counter,
          "Test packets of confirmed newcomers turned away because the table was full.", nullptr},
         report.refusedPackets},
        {{"veltrane_refused_sessions", Kind::Counter, "Confirmed newcomers turned away because the table was full.",
          nullptr},
         report.refusedSessions},
        {{"veltrane_dropped_sessions", Kind::Counter, "Sessions pushed out by a newcomer because the table was full.",
          nullptr},
         report.droppedSessions},
        {{"veltrane_unconfirmed_sources", Kind::Counter,
          "Sources forgotten before their test packets confirmed a run (spoofed or stray ones).", nullptr},
         report.forgottenSources},
        // The rest of the JSON's unconfirmedSources: a count that falls when a source confirms
        // its run, which a counter must never do.
        {{"veltrane_waiting_sources", Kind::Gauge, "Sources whose test packets have not confirmed a run yet.", nullptr},
         report.unconfirmedSources - report.forgottenSources},
        {{"veltrane_host_drops", Kind::Counter,
          "Datagrams this host dropped at its socket for want of room (every source): lost here, not on the path, "
          "though the sessions count them as lost.",
          nullptr},
         report.hostDrops},
    };
    for (const auto& [family, value] : totals) {
        page.Header(family);
        page.Sample(SampleName(family), {}, static_cast<double>(value));
    }
}

// The q value of one media range of an Accept header ("text/plain;version=0.0.4;q=0.5").
double Quality(const std::string& range) {
    const size_t q = range.find(";q=");
    return q == std::string::npos ? 1.0 : std::strtod(range.c_str() + q + 3, nullptr);
}

}  // namespace

ExpositionFormat FormatForAccept(const std::string& accept) {
    double openMetrics = 0.0, plain = 0.0;
    size_t begin = 0;
    while (begin <= accept.size()) {
        const size_t end = std::min(accept.find(',', begin), accept.size());
        std::string range;
        for (size_t i = begin; i < end; ++i) {
            if (accept[i] != ' ' && accept[i] != '\t') {
                range += accept[i];
            }
        }
        const double quality = Quality(range);
        if (range.rfind("application/openmetrics-text", 0) == 0) {
            openMetrics = std::max(openMetrics, quality);
        } else if (range.rfind("text/plain", 0) == 0 || range.rfind("*/*", 0) == 0) {
            plain = std::max(plain, quality);
        }
        begin = end + 1;
    }
    return openMetrics > 0.0 && openMetrics >= plain ? ExpositionFormat::OpenMetrics : ExpositionFormat::Prometheus;
}

std::string MetricsExposition(const SessionsReport& report,
                              const std::vector<MetricLabel>& labels,
                              ExpositionFormat format) {
    Page page(labels, format);
    const std::vector<const SessionFigures*> sessions = DistinctSources(report);
    for (const Family& family : Families()) {
        AddFamily(page, family, sessions);
    }
    AddHostFamilies(page, report);
    return page.Finish();
}

std::string SenderMetricsExposition(const SenderFigures* figures,
                                    const std::vector<MetricLabel>& labels,
                                    ExpositionFormat format) {
    Page page(labels, format);
    if (figures == nullptr) {
        return page.Finish();
    }
    const SenderStatistics& s = figures->statistics;
    const SendLoad& load = figures->load.load;
    const std::pair<Family, double> samples[] = {
        {{"veltrane_sender_packets_sent", Kind::Counter, "Test packets sent.", nullptr},
         static_cast<double>(s.sentPackets)},
        {{"veltrane_sender_groups_sent", Kind::Counter, "Groups of test packets sent.", nullptr},
         static_cast<double>(s.groupsSent)},
        {{"veltrane_sender_late_groups", Kind::Counter, "Groups that left after their time on the fixed pace.",
          nullptr},
         static_cast<double>(s.lateGroups)},
        {{"veltrane_sender_sends_refused", Kind::Counter,
          "Test packets not sent because the socket's send buffer was full.", nullptr},
         static_cast<double>(s.wouldBlockCount)},
        {{"veltrane_sender_calls", Kind::Gauge, "Calls (packets per period) the sender was asked for.", nullptr},
         static_cast<double>(load.calls)},
        {{"veltrane_sender_period_seconds", Kind::Gauge, "Time from one group to the next.", nullptr},
         load.periodMs / 1000.0},
        {{"veltrane_sender_wire_bits_per_second", Kind::Gauge,
          "The load on the wire: UDP payload, UDP and IP headers, no link framing.", nullptr},
         WireKbitPerSecond(load) * 1000.0},
    };
    for (const auto& [family, value] : samples) {
        page.Header(family);
        page.Sample(SampleName(family), {{"destination", figures->destination}}, value);
    }
    return page.Finish();
}
