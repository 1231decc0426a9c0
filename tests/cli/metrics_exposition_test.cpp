// The page a Prometheus scraper reads: names, labels and their escaping, the histogram in
// seconds, figures left out until they exist, the OpenMetrics form; and the metrics options.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cli/metrics_exposition.h"
#include "cli_test_support.h"
#include "measure/test_packet.h"
#include "sessions/session_table.h"

namespace {

DistributionSummary Summary(double p50, double p95, double p99) {
    DistributionSummary d;
    d.count = 10;
    d.p50 = p50;
    d.p95 = p95;
    d.p99 = p99;
    return d;
}

// One session with every figure, one that has analysed nothing yet.
SessionsReport HandMadeReport() {
    SessionFigures full;
    full.source = *Endpoint::Resolve("192.0.2.1", 13013);
    full.packets.received = 990;
    full.packets.lost = 10;
    full.packets.firstPacketsLost = 1;
    full.notTestPackets = 3;
    full.record.bytesReceived = 190080;
    full.interval.jitter = Summary(0.25, 1.5, 40);
    full.delay = Summary(12.5, 0, 0);
    full.rfc3550JitterMs = 0.75;
    full.skewPpm = -48.5;
    full.jitterBuckets.atOrBelow = {4, 5, 5, 5, 5, 5, 5, 6, 6};
    full.jitterBuckets.count = 7;
    full.jitterBuckets.sumMs = 250.5;
    full.quality = CallQuality{};
    full.quality->mos = 4.25;
    full.quality->rFactor = 85.5;
    full.lastPacketAgeSeconds = 12.5;
    SessionFigures fresh;
    fresh.source = *Endpoint::Resolve("2001:db8::1", 13013);
    fresh.final = true;
    SessionsReport report;
    report.sessions = {full, fresh};
    report.droppedSessions = 2;
    report.unauthenticatedPackets = 5;
    return report;
}

bool Has(const std::string& page, const std::string& line) {
    return page.find("\n" + line + "\n") != std::string::npos || page.rfind(line + "\n", 0) == 0;
}

TEST(MetricsExposition, EverySessionsFiguresWithTheirLabelsAndUnits) {
    const std::vector<MetricLabel> labels = {{"site", "a \"b\" \\c\nd"}};
    const std::string page = MetricsExposition(HandMadeReport(), labels, ExpositionFormat::Prometheus);
    const std::string a = R"({source="192.0.2.1:13013",site="a \"b\" \\c\nd"})";
    const std::string b = R"({source="[2001:db8::1]:13013",site="a \"b\" \\c\nd"})";
    for (const std::string& line : std::vector<std::string>{
             "# TYPE veltrane_test_packets_received_total counter",
             "veltrane_test_packets_received_total" + a + " 990",
             "veltrane_test_packets_received_total" + b + " 0",
             "veltrane_test_packets_lost_total" + a + " 10",
             "veltrane_first_packets_lost_total" + a + " 1",
             "veltrane_not_test_packets_total" + a + " 3",
             "veltrane_received_bytes_total" + a + " 190080",
             "# TYPE veltrane_jitter_p50_seconds gauge",
             "veltrane_jitter_p50_seconds" + a + " 0.00025",
             "veltrane_jitter_p95_seconds" + a + " 0.0015",
             "veltrane_jitter_p99_seconds" + a + " 0.04",
             "veltrane_rfc3550_jitter_seconds" + a + " 0.00075",
             "veltrane_delay_p50_seconds" + a + " 0.0125",
             "veltrane_clock_skew_ppm" + a + " -48.5",
             "# TYPE veltrane_mos gauge",
             "veltrane_mos" + a + " 4.25",
             "veltrane_r_factor" + a + " 85.5",
             "# TYPE veltrane_last_packet_age_seconds gauge",
             "veltrane_last_packet_age_seconds" + a + " 12.5",
             "# TYPE veltrane_jitter_seconds histogram",
             R"(veltrane_jitter_seconds_bucket{source="192.0.2.1:13013",le="0.0005",site="a \"b\" \\c\nd"} 4)",
             R"(veltrane_jitter_seconds_bucket{source="192.0.2.1:13013",le="0.03",site="a \"b\" \\c\nd"} 5)",
             R"(veltrane_jitter_seconds_bucket{source="192.0.2.1:13013",le="0.1",site="a \"b\" \\c\nd"} 6)",
             R"(veltrane_jitter_seconds_bucket{source="192.0.2.1:13013",le="+Inf",site="a \"b\" \\c\nd"} 7)",
             "veltrane_jitter_seconds_sum" + a + " 0.2505",
             "veltrane_jitter_seconds_count" + a + " 7",
             "veltrane_jitter_seconds_count" + b + " 0",
             R"(veltrane_dropped_sessions_total{site="a \"b\" \\c\nd"} 2)",
             R"(veltrane_unauthenticated_packets_total{site="a \"b\" \\c\nd"} 5)",
         }) {
        EXPECT_TRUE(Has(page, line)) << line << "\nnot in:\n" << page;
    }
    // The session without figures shows none of the figures it lacks.
    EXPECT_EQ(page.find("veltrane_jitter_p50_seconds" + b), std::string::npos);
    EXPECT_EQ(page.find("veltrane_clock_skew_ppm" + b), std::string::npos);
    EXPECT_EQ(page.find("veltrane_mos" + b), std::string::npos);
    EXPECT_EQ(page.find("# EOF"), std::string::npos);
    // Each family once, its samples together: a scraper rejects a family that comes back.
    EXPECT_EQ(page.find("# TYPE veltrane_test_packets_received_total"),
              page.rfind("# TYPE veltrane_test_packets_received_total"));

    // A named sender's series carry its name (escaped: a name may hold quotes and backslashes).
    SessionsReport named = HandMadeReport();
    named.sessions[0].senderName = R"(br "7" \x)";
    const std::string namedPage = MetricsExposition(named, {}, ExpositionFormat::Prometheus);
    for (const std::string& line : std::vector<std::string>{
             R"(veltrane_test_packets_received_total{source="192.0.2.1:13013",sender="br \"7\" \\x"} 990)",
             R"(veltrane_jitter_seconds_bucket{source="192.0.2.1:13013",sender="br \"7\" \\x",le="+Inf"} 7)",
             R"(veltrane_jitter_seconds_count{source="192.0.2.1:13013",sender="br \"7\" \\x"} 7)",
             R"(veltrane_test_packets_received_total{source="[2001:db8::1]:13013"} 0)",
         }) {
        EXPECT_TRUE(Has(namedPage, line)) << line << "\nnot in:\n" << namedPage;
    }
}

// The host's counters are on the first page at 0, so that an alert on their increase sees the
// first event; and a source that confirms its run leaves the unconfirmed counter where it was
// (a counter that falls reads as a reset, and its increase as a burst of every source ever seen).
TEST(MetricsExposition, HostCountersStartAtZeroAndNeverFall) {
    const std::string first = MetricsExposition(SessionsReport{}, {}, ExpositionFormat::Prometheus);
    for (const char* counter : {"veltrane_not_test_datagrams_total", "veltrane_truncated_datagrams_total",
                                "veltrane_unauthenticated_packets_total", "veltrane_refused_datagrams_total",
                                "veltrane_refused_sessions_total", "veltrane_dropped_sessions_total",
                                "veltrane_unconfirmed_sources_total", "veltrane_host_drops_total"}) {
        EXPECT_TRUE(Has(first, "# TYPE " + std::string(counter) + " counter")) << counter;
        EXPECT_TRUE(Has(first, std::string(counter) + " 0")) << counter;
    }

    ManualClock clock;
    SessionTable table(clock, SessionTableSettings{10.0, 16});
    const auto page = [&] { return MetricsExposition(table.TakeReport(false), {}, ExpositionFormat::Prometheus); };
    const auto take = [&](const Endpoint& source, int64_t group, double ms) {
        clock.SetMs(ms);
        std::vector<uint8_t> packet = MakePacket(0, group, std::llround(ms * 10'000), 10'000'000);
        WriteGroupSize(packet.data(), 1);
        table.TakeDatagram(Received(packet, clock.now, source));
    };
    const Endpoint sender = Endpoint::Ipv4(0x7F000001, 5001);
    take(sender, 0, 0.0);
    std::string now = page();
    EXPECT_TRUE(Has(now, "veltrane_waiting_sources 1")) << now;
    EXPECT_TRUE(Has(now, "veltrane_unconfirmed_sources_total 0")) << now;
    take(sender, 1, 10.0);
    take(sender, 2, 20.0);  // the third packet confirms the run
    take(Endpoint::Ipv4(0x7F000001, 5002), 0, 25.0);
    now = page();
    EXPECT_TRUE(Has(now, "veltrane_waiting_sources 1")) << now;
    EXPECT_TRUE(Has(now, "veltrane_unconfirmed_sources_total 0")) << now;
    clock.SetMs(25.0 + 10'000.0);  // the stray source is forgotten after the time-out
    now = page();
    EXPECT_TRUE(Has(now, "veltrane_waiting_sources 0")) << now;
    EXPECT_TRUE(Has(now, "veltrane_unconfirmed_sources_total 1")) << now;
}

TEST(MetricsExposition, OpenMetricsNamesCounterFamiliesWithoutTotalAndEnds) {
    SessionsReport report = HandMadeReport();
    report.hostDrops = 5;
    const std::string page = MetricsExposition(report, {}, ExpositionFormat::OpenMetrics);
    EXPECT_TRUE(Has(page, "# TYPE veltrane_test_packets_lost counter")) << page;
    EXPECT_TRUE(Has(page, "# TYPE veltrane_host_drops counter")) << page;
    EXPECT_TRUE(Has(page, "veltrane_host_drops_total 5")) << page;
    EXPECT_TRUE(Has(page, R"(veltrane_test_packets_lost_total{source="192.0.2.1:13013"} 10)")) << page;
    EXPECT_TRUE(Has(page, "veltrane_dropped_sessions_total 2")) << page;
    EXPECT_EQ(page.substr(page.size() - 6), "# EOF\n");
    // No session yet: no session families, the page still well formed.
    const std::string empty = MetricsExposition(SessionsReport{}, {}, ExpositionFormat::OpenMetrics);
    EXPECT_EQ(empty.find("veltrane_test_packets"), std::string::npos);
    EXPECT_EQ(empty.substr(empty.size() - 6), "# EOF\n");
}

TEST(MetricsExposition, OneSeriesPerSourceWhenASessionEndedAndItsSourceStartedAgain) {
    SessionsReport report = HandMadeReport();
    SessionFigures ended = report.sessions[0];
    ended.final = true;
    ended.packets.received = 5;
    report.sessions.push_back(ended);  // finals come after the open sessions
    std::swap(report.sessions[0], report.sessions[2]);
    const std::string page = MetricsExposition(report, {}, ExpositionFormat::Prometheus);
    const std::string series = R"(veltrane_test_packets_received_total{source="192.0.2.1:13013"})";
    EXPECT_TRUE(Has(page, series + " 990")) << page;
    EXPECT_EQ(page.find(series), page.rfind(series));
}

// A sender's page: its counters and its load in base units, labelled with the destination;
// nothing before its first report.
TEST(MetricsExposition, ASendersCountersAndLoad) {
    SenderFigures figures;
    figures.destination = "192.0.2.1:13014";
    figures.statistics.sentPackets = 1000;
    figures.statistics.lateGroups = 2;
    figures.statistics.wouldBlockCount = 3;
    figures.load.load = SendLoad{1, 172, 20, false};
    const std::string page = SenderMetricsExposition(&figures, {{"site", "lab"}}, ExpositionFormat::Prometheus);
    for (const char* line : {
             "# TYPE veltrane_sender_packets_sent_total counter\n"
             "veltrane_sender_packets_sent_total{destination=\"192.0.2.1:13014\",site=\"lab\"} 1000\n",
             "veltrane_sender_late_groups_total{destination=\"192.0.2.1:13014\",site=\"lab\"} 2\n",
             "veltrane_sender_sends_refused_total{destination=\"192.0.2.1:13014\",site=\"lab\"} 3\n",
             "veltrane_sender_calls{destination=\"192.0.2.1:13014\",site=\"lab\"} 1\n",
             "veltrane_sender_period_seconds{destination=\"192.0.2.1:13014\",site=\"lab\"} 0.02\n",
             "veltrane_sender_wire_bits_per_second{destination=\"192.0.2.1:13014\",site=\"lab\"} 80000\n",
         }) {
        EXPECT_NE(page.find(line), std::string::npos) << line << "\nin:\n" << page;
    }
    EXPECT_NE(SenderMetricsExposition(&figures, {}, ExpositionFormat::OpenMetrics)
                  .find("# TYPE veltrane_sender_packets_sent counter\n"),
              std::string::npos);
    EXPECT_EQ(SenderMetricsExposition(nullptr, {}, ExpositionFormat::OpenMetrics), "# EOF\n");
}

TEST(MetricsExposition, TheScrapersAcceptHeaderChoosesTheFormat) {
    // Prometheus 2's own header.
    EXPECT_EQ(FormatForAccept("application/openmetrics-text;version=1.0.0,application/openmetrics-text;"
                              "version=0.0.1;q=0.75,text/plain;version=0.0.4;q=0.5,*/*;q=0.1"),
              ExpositionFormat::OpenMetrics);
    EXPECT_EQ(FormatForAccept(""), ExpositionFormat::Prometheus);
    EXPECT_EQ(FormatForAccept("*/*"), ExpositionFormat::Prometheus);
    EXPECT_EQ(FormatForAccept("text/plain, application/openmetrics-text; q=0.5"), ExpositionFormat::Prometheus);
    EXPECT_EQ(FormatForAccept("application/openmetrics-text; q=0"), ExpositionFormat::Prometheus);
}

TEST(MetricsOptions, LabelsAndAddressAreCheckedAsTheCommandLineIsRead) {
#ifdef _WIN32
    const ParsedCommandLine windows = Parse({"receive", "--metrics", "127.0.0.1:9101"});
    EXPECT_EQ(windows.exitCode, kExitUsage);
    EXPECT_NE(windows.error.find("the Windows console program serves no metrics"), std::string::npos);
    GTEST_SKIP() << "the Windows console program refuses --metrics";
#endif
    ParsedCommandLine parsed = Parse(
        {"receive", "--metrics", "[::1]:9101", "--label", "site=Zürich 3", "--label", "role=", "--label", "x=a=b"});
    ASSERT_TRUE(parsed.options) << parsed.error;
    EXPECT_EQ(parsed.options->metrics->host, "::1");
    EXPECT_EQ(parsed.options->metrics->port, 9101);
    EXPECT_EQ(parsed.options->metrics->Text(), "[::1]:9101");
    ASSERT_EQ(parsed.options->metricLabels.size(), 3u);
    EXPECT_EQ(parsed.options->metricLabels[0].value, "Zürich 3");
    EXPECT_EQ(parsed.options->metricLabels[2].value, "a=b");
    parsed = Parse({"loopback", "--metrics", "localhost:1"});
    ASSERT_TRUE(parsed.options) << parsed.error;
    EXPECT_EQ(parsed.options->metrics->Text(), "localhost:1");

    const std::pair<std::vector<const char*>, const char*> refused[] = {
        {{"receive", "--metrics", "127.0.0.1"}, "the port is missing"},
        {{"receive", "--metrics", "127.0.0.1:0"}, "not a port from 1 to 65535"},
        {{"receive", "--metrics", "127.0.0.1:65536"}, "not a port"},
        {{"receive", "--metrics", ":9101"}, "the address is missing"},
        {{"receive", "--metrics", "::1:9101"}, "in brackets"},
        {{"receive", "--metrics", "[::1]"}, "expected ADDR:PORT"},
        {{"receive", "--label", "a=1"}, "give --metrics"},
        {{"receive", "--metrics", "[::1]:1", "--label", "site"}, "expected NAME=VALUE"},
        {{"receive", "--metrics", "[::1]:1", "--label", "1site=a"}, "is not a label name"},
        {{"receive", "--metrics", "[::1]:1", "--label", "si-te=a"}, "is not a label name"},
        {{"receive", "--metrics", "[::1]:1", "--label", "=a"}, "is not a label name"},
        {{"receive", "--metrics", "[::1]:1", "--label", "__name__=a"}, "reserved"},
        {{"receive", "--metrics", "[::1]:1", "--label", "source=a"}, "set 'source' themselves"},
        {{"receive", "--metrics", "[::1]:1", "--label", "le=a"}, "set 'le' themselves"},
        {{"receive", "--metrics", "[::1]:1", "--label", "sender=a"}, "set 'sender' themselves"},
        {{"receive", "--metrics", "[::1]:1", "--label", "a=\xC3"}, "not UTF-8"},
        {{"receive", "--metrics", "[::1]:1", "--label", "a=\xED\xA0\x80"}, "not UTF-8"},
        {{"receive", "--metrics", "[::1]:1", "--label", "a=1", "--label", "a=2"}, "'a' is given twice"},
        {{"send", "--metrics", "[::1]:1", "--label", "destination=x"}, "set 'destination' themselves"},
    };
    for (const auto& [arguments, reason] : refused) {
        SCOPED_TRACE(arguments.back());
        parsed = Parse(arguments);
        EXPECT_FALSE(parsed.options);
        EXPECT_EQ(parsed.exitCode, kExitUsage);
        EXPECT_NE(parsed.error.find(reason), std::string::npos) << parsed.error;
    }
}

}  // namespace
