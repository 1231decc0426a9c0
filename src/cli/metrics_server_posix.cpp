#include "cli/metrics_server.h"

#include <httplib.h>
#include <sys/socket.h>

#include <cerrno>
#include <chrono>
#include <future>
#include <system_error>
#include <thread>

#include "cli/metrics_exposition.h"

namespace {

// How long the stop waits for the listening thread before it leaves it to finish alone: the
// time-outs end every scrape well within it, unless a client trickles its request in byte by byte.
constexpr auto kStopBound = std::chrono::seconds(3 * MetricsServer::kTimeoutSeconds);
constexpr auto kStopLook = std::chrono::milliseconds(10);

std::string ListenFailure(const MetricsAddress& address, int error) {
    // The library does not always leave the bind's errno behind: without one, say what it may be.
    return "cannot listen on TCP " + address.Text() + " (--metrics): " +
           (error != 0 ? std::generic_category().message(error)
                       : std::string("the port is in use, or the address is not one of this host's"));
}

}  // namespace

// Shared with the listening thread, which keeps it alive if the stop has to leave it behind.
struct MetricsServer::State {
    httplib::Server http;
    MetricsServer::Page page;
    std::future<void> listening;  // ready once the listening thread has ended
};

MetricsServer::MetricsServer(std::shared_ptr<State> state, std::thread listener, uint16_t port)
    : state_(std::move(state)), listener_(std::move(listener)), port_(port) {}

std::unique_ptr<MetricsServer> MetricsServer::Start(const MetricsAddress& address,
                                                    std::shared_ptr<const PublishedSessions> published,
                                                    std::vector<MetricLabel> labels,
                                                    std::string& error) {
    return Start(
        address,
        [published = std::move(published), labels = std::move(labels)](ExpositionFormat format) {
            const std::shared_ptr<const SessionsReport> latest = published->Get();  // null before the first report
            return MetricsExposition(latest ? *latest : SessionsReport{}, labels, format);
        },
        error);
}

std::unique_ptr<MetricsServer> MetricsServer::Start(const MetricsAddress& address, Page page, std::string& error) {
    auto state = std::make_shared<State>();
    state->page = std::move(page);
    State* const s = state.get();  // the handler lives in the state: a shared pointer would keep it forever
    s->http.Get("/metrics", [s](const httplib::Request& request, httplib::Response& response) {
        const ExpositionFormat format = FormatForAccept(request.get_header_value("Accept"));
        response.set_content(s->page(format), format == ExpositionFormat::OpenMetrics ? kOpenMetricsContentType
                                                                                      : kPrometheusContentType);
    });
    // httplib's default also sets SO_REUSEPORT, which would let a second program take the same
    // port and half the scrapes; SO_REUSEADDR alone only lets a restart bind at once.
    s->http.set_socket_options([](socket_t sock) {
        const int on = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    });
    s->http.new_task_queue = [] { return new httplib::ThreadPool(kThreads); };
    s->http.set_read_timeout(kTimeoutSeconds, 0);
    s->http.set_write_timeout(kTimeoutSeconds, 0);
    s->http.set_keep_alive_timeout(kTimeoutSeconds);

    errno = 0;
    int port = address.port;
    if (port == 0) {
        port = s->http.bind_to_any_port(address.host);
    } else if (!s->http.bind_to_port(address.host, port)) {
        port = -1;
    }
    if (port <= 0) {
        error = ListenFailure(address, errno);
        return nullptr;
    }
    std::promise<void> ended;
    s->listening = ended.get_future();
    std::thread listener([state, ended = std::move(ended)]() mutable {
        state->http.listen_after_bind();
        ended.set_value();
    });
    return std::unique_ptr<MetricsServer>(
        new MetricsServer(std::move(state), std::move(listener), static_cast<uint16_t>(port)));
}

MetricsServer::~MetricsServer() {
    // A stop that comes before the thread has begun to listen does nothing: ask again until it ends.
    const auto deadline = std::chrono::steady_clock::now() + kStopBound;
    do {
        state_->http.stop();
    } while (state_->listening.wait_for(kStopLook) != std::future_status::ready &&
             std::chrono::steady_clock::now() < deadline);
    if (state_->listening.wait_for(std::chrono::seconds(0)) == std::future_status::ready) {
        listener_.join();
    } else {
        listener_.detach();  // it holds the state it uses; the end of the process ends it
    }
}
