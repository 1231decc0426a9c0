// The metrics endpoint over loopback: the published report as either format, nothing
// elsewhere, a busy port refused, and a stop that a scrape under way cannot hold up.

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

#include "cli/metrics_exposition.h"
#include "cli/metrics_server.h"

namespace {

std::shared_ptr<PublishedSessions> PublishedWithOneSession(int64_t received) {
    SessionsReport report;
    report.sessions.emplace_back();
    report.sessions.back().source = *Endpoint::Resolve("127.0.0.1", 13013);
    report.sessions.back().packets.received = received;
    auto published = std::make_shared<PublishedSessions>();
    published->Set(report);
    return published;
}

std::unique_ptr<MetricsServer> StartOnLoopback(std::shared_ptr<PublishedSessions> published) {
    std::string error;
    auto server = MetricsServer::Start({"127.0.0.1", 0}, std::move(published), {{"site", "lab"}}, error);
    EXPECT_TRUE(server) << error;
    return server;
}

TEST(MetricsServer, ServesTheLatestPublishedReportInTheFormatAsked) {
    const auto published = PublishedWithOneSession(42);
    const auto server = StartOnLoopback(published);
    ASSERT_TRUE(server);
    httplib::Client client("127.0.0.1", server->Port());
    const std::string series = R"(veltrane_test_packets_received_total{source="127.0.0.1:13013",site="lab"} )";

    auto response = client.Get("/metrics");
    ASSERT_TRUE(response);
    EXPECT_EQ(response->status, 200);
    EXPECT_EQ(response->get_header_value("Content-Type"), kPrometheusContentType);
    EXPECT_NE(response->body.find(series + "42\n"), std::string::npos) << response->body;

    published->Set(*PublishedWithOneSession(43)->Get());
    response = client.Get("/metrics", {{"Accept", "application/openmetrics-text;version=1.0.0,text/plain;q=0.5"}});
    ASSERT_TRUE(response);
    EXPECT_EQ(response->get_header_value("Content-Type"), kOpenMetricsContentType);
    EXPECT_NE(response->body.find(series + "43\n"), std::string::npos) << response->body;
    EXPECT_EQ(response->body.substr(response->body.size() - 6), "# EOF\n");

    for (const char* path : {"/", "/metrics/x", "/favicon.ico"}) {
        response = client.Get(path);
        ASSERT_TRUE(response);
        EXPECT_EQ(response->status, 404) << path;
    }

    std::string error;
    EXPECT_FALSE(MetricsServer::Start({"127.0.0.1", server->Port()}, published, {}, error));
    EXPECT_NE(error.find("Address already in use"), std::string::npos) << error;
}

TEST(MetricsServer, AScrapeUnderWayDoesNotHoldUpTheStop) {
    auto server = StartOnLoopback(PublishedWithOneSession(1));
    ASSERT_TRUE(server);
    // A scraper that sent half its request and then went quiet.
    const int client = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(server->Port());
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(connect(client, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    const char partial[] = "GET /metrics HTTP/1.1\r\nHost: 127.0.0.1\r\n";
    ASSERT_EQ(send(client, partial, sizeof partial - 1, 0), static_cast<ssize_t>(sizeof partial - 1));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // the server is reading it by now

    const auto start = std::chrono::steady_clock::now();
    server.reset();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(seconds, 2.0 * MetricsServer::kTimeoutSeconds + 0.5);
    close(client);
}

}  // namespace
