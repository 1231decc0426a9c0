#pragma once
// Serves the latest published sessions at http://ADDR:PORT/metrics to Prometheus scrapers
// (native build only). Scrapes run on the server's own few threads and read the published
// copy alone: neither the session table nor the receiving thread ever waits for one.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "cli/metric_labels.h"
#include "cli/metrics_address.h"
#include "cli/metrics_exposition.h"
#include "sessions/published_sessions.h"

class MetricsServer {
  public:
    // At most this many scrapes are served at once; more wait for their turn.
    static constexpr int kThreads = 2;
    // A scraper this slow to send its request or take the page is cut off; the stop waits
    // for at most about this long too.
    static constexpr int kTimeoutSeconds = 1;

    // Listens at `address` (port 0: one the system picks), or returns null with the reason in
    // `error`: the port is in use, the address is not this host's.
    static std::unique_ptr<MetricsServer> Start(const MetricsAddress& address,
                                                std::shared_ptr<const PublishedSessions> published,
                                                std::vector<MetricLabel> labels,
                                                std::string& error);

    // A page of the caller's: called on the server's threads, it must read only what another
    // thread published for it.
    using Page = std::function<std::string(ExpositionFormat)>;
    static std::unique_ptr<MetricsServer> Start(const MetricsAddress& address, Page page, std::string& error);
    // Stops within a bounded time: a scrape cut off by the time-outs, or, in the worst case, a
    // server left to finish on its own while the run ends.
    ~MetricsServer();

    uint16_t Port() const { return port_; }

  private:
    struct State;
    MetricsServer(std::shared_ptr<State> state, std::thread listener, uint16_t port);

    std::shared_ptr<State> state_;
    std::thread listener_;
    uint16_t port_;
};
