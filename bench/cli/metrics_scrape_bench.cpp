// The far end's cost per datagram while Prometheus scrapes it ten times a second, against no
// scraping, in the same run.
//
// The receiving thread hands datagrams of 16 senders to the session table as fast as it can; a
// report thread takes the figures out and publishes them, as veltrane-cli receive does. In the
// scraped rounds a client fetches /metrics from the real endpoint on 127.0.0.1 every 100 ms. A
// scrape reads only the published copy, so both kinds of round should cost the same: the
// ratio of their medians is the figure to watch. The rounds alternate so that a busy moment
// of the machine does not fall on one side only. Beside the elapsed time per datagram the
// receiving thread's own CPU time is given: on a machine of few cores the scraper and the
// server take cores from the receiving thread, which the elapsed time shows and the CPU time
// does not (a slower table, a lock held longer, shows in both).
//
// usage: veltrane_metrics_scrape_bench [SECONDS_PER_ROUND] [ROUNDS]

#include <httplib.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "base/clock.h"
#include "base/udp_socket.h"
#include "cli/metrics_server.h"
#include "measure/test_packet.h"
#include "sessions/published_sessions.h"
#include "sessions/session_table.h"

namespace {

using Steady = std::chrono::steady_clock;

constexpr int kSenders = 16;  // the page grows with the sessions
constexpr int64_t kSenderFrequency = 10'000'000;
constexpr int64_t kDatagramsPerLook = 4096;  // datagrams between two looks at the round's end
constexpr auto kReportInterval = std::chrono::milliseconds(500);
constexpr auto kScrapeInterval = std::chrono::milliseconds(100);

double ThreadCpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

// Sleeps in short slices so that a round's end stops the thread at once.
void SleepUntilOrDone(const std::atomic<bool>& done, Steady::time_point until) {
    while (!done.load() && Steady::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

// Datagrams of `kSenders` senders taking turns, each sender's groups numbered from 0. The
// send times follow the real clock (read once per turn of the senders) with a few hundred µs of
// varying queueing, so that the delays, the jitter and the skew fit see a path's figures.
class SenderMix {
  public:
    SenderMix() : packet_(192) {
        for (int sender = 0; sender < kSenders; ++sender) {
            sources_.push_back(Endpoint::Ipv4(0x7F000001, static_cast<uint16_t>(20000 + sender)));
        }
    }

    void TakeNext(SessionTable& table) {
        if (turn_ == 0) {
            ++group_;
            sendCounter_ = QueryCounter() / (QueryCounterFrequency() / kSenderFrequency);
        }
        const int64_t queueing = (group_ * 7 + turn_ * 13) % 37 * 100;  // 0 to 360 µs
        WritePacketHeader(packet_.data(), TestPacketHeader{0, group_, sendCounter_ - queueing, kSenderFrequency});
        ReceivedDatagram received;
        received.bytes = packet_.data();
        received.length = static_cast<int64_t>(packet_.size());
        received.source = sources_[turn_];
        received.arrival = QueryCounter();
        table.TakeDatagram(received);
        turn_ = turn_ + 1 == kSenders ? 0 : turn_ + 1;
    }

  private:
    std::vector<uint8_t> packet_;
    std::vector<Endpoint> sources_;
    size_t turn_ = 0;
    int64_t group_ = -1;
    int64_t sendCounter_ = 0;
};

struct RoundCost {
    double elapsedNs = 0;  // per datagram
    double cpuNs = 0;      // per datagram, the receiving thread's own
    int scrapes = 0;
    int failedScrapes = 0;
    size_t pageBytes = 0;  // of the last scrape
    // The longest TakeReport: about the longest the receiving thread may wait for the table.
    double longestReportUs = 0;
};

// One round: a fresh table, its report thread and, if `scraping`, a scraper of `port`.
RoundCost MeasureRound(PublishedSessions& published, uint16_t port, bool scraping, double seconds) {
    SessionTable table(SystemClock());
    std::atomic<bool> done{false};
    Steady::duration longestReport{};
    std::thread reporter([&] {
        for (auto next = Steady::now(); !done.load(); next += kReportInterval) {
            SleepUntilOrDone(done, next);
            const auto start = Steady::now();
            SessionsReport report = table.TakeReport(false);
            longestReport = std::max(longestReport, Steady::now() - start);
            published.Set(std::move(report));
        }
    });
    RoundCost cost;
    std::thread scraper([&] {
        httplib::Client client("127.0.0.1", port);
        client.set_keep_alive(true);  // as Prometheus keeps its connection to a target
        const httplib::Headers accept = {{"Accept", "application/openmetrics-text; version=1.0.0"}};
        for (auto next = Steady::now(); scraping && !done.load(); next += kScrapeInterval) {
            SleepUntilOrDone(done, next);
            const auto result = client.Get("/metrics", accept);
            ++cost.scrapes;
            if (result && result->status == 200) {
                cost.pageBytes = result->body.size();
            } else {
                ++cost.failedScrapes;
            }
        }
    });

    SenderMix mix;
    int64_t datagrams = 0;
    const double cpuStart = ThreadCpuSeconds();
    const auto start = Steady::now();
    const auto end = start + std::chrono::duration_cast<Steady::duration>(std::chrono::duration<double>(seconds));
    auto now = start;
    while (now < end) {
        for (int64_t i = 0; i < kDatagramsPerLook; ++i) {
            mix.TakeNext(table);
        }
        datagrams += kDatagramsPerLook;
        now = Steady::now();
    }
    const double cpuSeconds = ThreadCpuSeconds() - cpuStart;
    done = true;
    reporter.join();
    scraper.join();
    cost.elapsedNs = std::chrono::duration<double, std::nano>(now - start).count() / static_cast<double>(datagrams);
    cost.cpuNs = cpuSeconds * 1e9 / static_cast<double>(datagrams);
    cost.longestReportUs = std::chrono::duration<double, std::micro>(longestReport).count();
    return cost;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 2.0;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
    if (!(seconds > 0) || rounds < 1) {
        std::fprintf(stderr, "usage: veltrane_metrics_scrape_bench [SECONDS_PER_ROUND] [ROUNDS]\n");
        return 2;
    }
    // One server for the whole run, listening in every round: only the scrapes differ.
    const auto published = std::make_shared<PublishedSessions>();
    std::string error;
    const auto server = MetricsServer::Start(MetricsAddress{"127.0.0.1", 0}, published, {{"site", "bench"}}, error);
    if (!server) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }

    std::vector<double> quietElapsed, quietCpu, scrapedElapsed, scrapedCpu;
    int scrapes = 0, failed = 0;
    size_t pageBytes = 0;
    double longestReportUs = 0;
    for (int round = 0; round < rounds; ++round) {
        const RoundCost quiet = MeasureRound(*published, server->Port(), false, seconds);
        const RoundCost scraped = MeasureRound(*published, server->Port(), true, seconds);
        std::printf("round %d: %.1f ns per datagram without scrapes (%.1f ns CPU), %.1f ns scraped (%.1f ns CPU)\n",
                    round + 1, quiet.elapsedNs, quiet.cpuNs, scraped.elapsedNs, scraped.cpuNs);
        quietElapsed.push_back(quiet.elapsedNs);
        quietCpu.push_back(quiet.cpuNs);
        scrapedElapsed.push_back(scraped.elapsedNs);
        scrapedCpu.push_back(scraped.cpuNs);
        scrapes += scraped.scrapes;
        failed += scraped.failedScrapes;
        pageBytes = scraped.pageBytes;
        longestReportUs = std::max({longestReportUs, quiet.longestReportUs, scraped.longestReportUs});
    }
    std::printf("%d senders, %d scrapes of a %zu-byte page (%d failed), the table's report took at most %.0f µs\n",
                kSenders, scrapes, pageBytes, failed, longestReportUs);
    std::printf("medians: %.1f ns per datagram without scrapes, %.1f ns while scraped 10 times a second: ratio %.3f\n",
                Median(quietElapsed), Median(scrapedElapsed), Median(scrapedElapsed) / Median(quietElapsed));
    std::printf("the receiving thread's CPU time: %.1f ns against %.1f ns: ratio %.3f\n", Median(quietCpu),
                Median(scrapedCpu), Median(scrapedCpu) / Median(quietCpu));
    return failed == 0 ? 0 : 1;
}
