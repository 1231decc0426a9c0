#include "cli/measurement_run.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/errors.h"
#include "base/published.h"
#include "base/socket_library.h"
#include "base/udp_socket.h"
#include "cli/call_judgement.h"
#include "cli/error_text.h"
#include "cli/metrics_exposition.h"
#include "cli/reflector.h"
#include "cli/report.h"
#include "cli/round_trip_echoes.h"
#include "measure/receiver.h"
#include "measure/sender.h"
#include "measure/test_packet.h"
#include "sessions/published_sessions.h"
#include "sessions/sent_packet_log.h"
#include "sessions/session_table.h"
#ifndef _WIN32
#include "cli/metrics_server.h"
#include "cli/packet_tag.h"
#endif

namespace {

using SteadyClock = std::chrono::steady_clock;

// How often the loop looks at the stop request and the workers: the latency of Ctrl-C.
constexpr auto kPollSlice = std::chrono::milliseconds(10);
// How long a receiver may take to bind before the sender starts anyway.
constexpr auto kBindWait = std::chrono::seconds(2);
// How a loop-back run waits for its receiver to take in the last packets: 20 ms looks, 0.5 s at most.
constexpr auto kDrainLook = std::chrono::milliseconds(20);
constexpr int kDrainLooks = 25;
// A receiver is stopped without the dialog's second of grace: what was sent has been
// drained by then, and a run must end promptly on Ctrl-C even when no traffic comes.
constexpr uint32_t kReceiverStopGraceMs = 10;

// The sender's latest figures, handed from the report thread to the metrics server's threads.
using PublishedSender = Published<SenderFigures>;

// Collects the first error of either worker; the reports are taken by the run loop itself.
class RunObserver : public SenderObserver {
  public:
    void DisplaySenderStatistics(const SenderStatistics&, uint32_t, uint64_t) override {}

    void ReportError(Exception* e) override {
        ExceptionOwner owner(e);
        Fail(CliErrorText(*e));
    }

    void ReportUnknownError(const char* text) override { Fail(CliUnknownErrorText(text)); }

    bool Failed() const { return failed_.load(); }

    // An error of the front end's own, worded already.
    void FailWith(const std::string& text) { Fail(text); }

    std::string ErrorText() {
        std::lock_guard<std::mutex> lock(mutex_);
        return text_;
    }

  private:
    void Fail(const std::string& text) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!failed_.load()) {
            text_ = text;
            failed_.store(true);
        }
    }

    std::mutex mutex_;
    std::string text_;
    std::atomic<bool> failed_{false};
};

struct Endpoints {
    Endpoint destination;
    Endpoint local;
    bool dualStack = false;              // local is [::] and takes IPv4 too
    std::optional<Endpoint> sendSource;  // send --bind
};

// A host resolved with `port`, or nullopt after the error and the resolver's reason on `err`.
std::optional<Endpoint> ResolveOrSay(const std::string& host, uint16_t port, const char* what, std::ostream& err) {
    std::string reason;
    const std::optional<Endpoint> endpoint = Endpoint::Resolve(host.c_str(), port, &reason);
    if (!endpoint) {
        err << "veltrane-cli: cannot resolve " << what << " '" << host << "': " << reason << "\n";
    }
    return endpoint;
}

// Whether this host has IPv6 at all: where it has not, the receiver listens on IPv4 alone.
bool Ipv6Available() {
    SocketLibrary library;
    const std::optional<Endpoint> any = Endpoint::Resolve("::", 0);
    return library.Started() && any && UdpSocket::Open(*any).Valid();
}

// Host names are resolved once, here: the wire format carries no address, and a run never
// changes its peer.
std::optional<Endpoints> ResolveEndpoints(const CliOptions& options, std::ostream& err) {
    Endpoints endpoints;
    if (options.Sends()) {
        const std::optional<Endpoint> destination = ResolveOrSay(options.toHost, options.port, "the destination", err);
        if (!destination) {
            return std::nullopt;
        }
        endpoints.destination = *destination;
    }
    if (options.sourceHost) {
        endpoints.sendSource = ResolveOrSay(*options.sourceHost, options.sourcePort, "the local address", err);
        if (!endpoints.sendSource) {
            return std::nullopt;
        }
        if (endpoints.sendSource->IsIpv6() != endpoints.destination.IsIpv6()) {
            err << "veltrane-cli: --bind " << *options.sourceHost << " and --to " << options.toHost
                << " are of different address families (IPv4 and IPv6)\n";
            return std::nullopt;
        }
    }
    if (options.Receives() || options.mode == RunMode::Reflect) {
        // Every interface by default, IPv4 and IPv6 on one socket, so that a sender reaches
        // it by either; IPv4 alone on a host without IPv6.
        endpoints.dualStack = !options.bindHost && Ipv6Available();
        const std::string host = options.bindHost.value_or(endpoints.dualStack ? "::" : "0.0.0.0");
        const std::optional<Endpoint> local = ResolveOrSay(host, options.port, "the local address", err);
        if (!local) {
            return std::nullopt;
        }
        endpoints.local = *local;
    }
    return endpoints;
}

LoadReport LoadOf(const CliOptions& options, bool ipv6) {
    LoadReport report;
    report.load = SendLoad{options.packetsPerPeriod, EffectivePacketSize(options.packetSize), options.periodMs, ipv6};
    report.codec = options.codecName;
    report.payloadBytes = options.codecName ? options.codecPayloadBytes : options.packetSize;
    report.fixedPace = options.pace == Pace::Fixed;
    return report;
}

// The packet size must fit one datagram of the destination's family: a usage error found
// before the run, not a send error at its first packet.
bool PacketSizeFits(const CliOptions& options, const Endpoints& endpoints, std::ostream& err) {
    const uint32_t largest = endpoints.destination.MaxDatagramPayload();
    if (!options.Sends() || options.packetSize <= largest) {
        return true;
    }
    err << "veltrane-cli: --size: " << options.packetSize << " is too large for an "
        << (endpoints.destination.IsIpv6() ? "IPv6" : "IPv4") << " destination; at most " << largest
        << " bytes fit in one datagram\n";
    return false;
}

// The tags of a keyed run: one for the sender's thread, one for the receiving thread (each
// keeps its own context); none without a key.
struct RunTags {
    std::shared_ptr<PacketFinisher> sender;
    std::shared_ptr<DatagramAuthenticator> receiver;
    // The thread that takes a round trip's echoes, or the reflector's, which also tags answers.
    std::shared_ptr<DatagramAuthenticator> loopCheck;
    std::shared_ptr<PacketFinisher> loopRetag;
};

// Nullopt after the error on `err`: the crypto library could not set up the tag.
std::optional<RunTags> MakeRunTags(const CliOptions& options, std::ostream& err) {
    RunTags tags;
#ifndef _WIN32
    if (options.key) {
        tags.sender = PacketTag::Make(*options.key);
        tags.receiver = PacketTag::Make(*options.key);
        const std::shared_ptr<PacketTag> loop = PacketTag::Make(*options.key);
        tags.loopCheck = loop;
        tags.loopRetag = loop;
        if (!tags.sender || !tags.receiver || !loop) {
            err << "veltrane-cli: --key: the crypto library cannot compute HMAC-SHA-256\n";
            return std::nullopt;
        }
    }
#else
    (void)options;
    (void)err;
#endif
    return tags;
}

// The engine's sender and receiver for one run, stopped and joined when it goes.
class Run {
  public:
    Run(const CliOptions& options,
        const Endpoints& endpoints,
        PublishedSessions* published,
        PublishedSender* publishedSender,
        const RunTags& tags)
        : options_(options),
          endpoints_(endpoints),
          published_(published),
          publishedSender_(publishedSender),
          tags_(tags),
          sessions_(SystemClock(),
                    SessionTableSettings{options.sessionTimeoutSeconds, options.maxSessions},
                    tags.receiver),
          receiver_(observer_, nullptr, SystemClock(), &sessions_),
          sender_(observer_) {}

    // Starts the receiver first, so that a loop-back run's first packets find it bound.
    void Start() {
        if (options_.Receives()) {
            // The sessions analyse every sender: the receiver's own record only counts.
            ReceiverSettings settings{endpoints_.local, options_.packetSize, endpoints_.dualStack, true, false};
            settings.batched = true;
            settings.socketReceiveBuffer = options_.receiveBufferBytes;
            receiver_.Start(settings);
            const auto deadline = SteadyClock::now() + kBindWait;
            while (receiver_.LocalPort() == 0 && receiver_.Running() && !observer_.Failed() &&
                   SteadyClock::now() < deadline) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            }
        }
        if (options_.Sends() && !observer_.Failed()) {
            SenderSettings settings;
            settings.bufferSizeKB = options_.bufferSizeKB;
            settings.destination = endpoints_.destination;
            settings.packetSize = options_.packetSize;
            settings.periodMs = options_.periodMs;
            settings.packetsPerPeriod = options_.packetsPerPeriod;
            settings.sourcePort = options_.sourcePort;
            settings.sourceAddress = endpoints_.sendSource;
            settings.fixedPace = options_.pace == Pace::Fixed;
            settings.spreadOverPeriod = options_.spreadCalls;
            // The DSCP sits in the upper six bits of the byte; the ECN bits stay 0.
            settings.trafficClass = options_.dscp < 0 ? -1 : options_.dscp << 2;
            settings.finisher = tags_.sender;
            settings.announceEnd = true;
            if (options_.roundTrip && !StartRoundTrip(settings)) {
                return;
            }
            settings.name = options_.senderName;
            sender_.Start(settings);
        }
        if (options_.mode == RunMode::Reflect) {
            StartReflector();
        }
    }

    // A worker that ended without reporting an error: no path is known to do so (a thread
    // that cannot be created is an error of Start), but the run must not go on without it.
    bool WorkerLost() const {
        return (options_.Receives() && !receiver_.Running()) || (options_.Sends() && !sender_.Running()) ||
               (reflector_ && reflector_->Failed()) || (echoes_ && echoes_->Failed());
    }

    // A datagram loop that ended by an exception: its text becomes the run's error.
    void TellLoopFailure() {
        if (reflector_ && reflector_->Failed()) {
            observer_.FailWith("veltrane-cli: the reflector stopped: " + reflector_->FailureText());
        }
        if (echoes_ && echoes_->Failed()) {
            observer_.FailWith("veltrane-cli: the echoes' thread stopped: " + echoes_->FailureText());
        }
    }

    // The sender first, as the dialog does (it ends within one send).
    void StopSender() {
        StopWorker(
            [this] {
                if (sender_.Running()) {
                    sender_.Stop();
                }
            },
            [this] { return sender_.Running(); });
    }

    // In a loop-back run the receiver first takes in what is still under way, so that the
    // final report accounts for every packet sent.
    void StopReceiver() {
        if (options_.mode == RunMode::Loopback) {
            WaitWhileReceiving();
        }
        if (echoes_) {
            WaitWhileTaking([this] { return echoes_->Taken(); });
            echoes_->Stop();
        }
        if (reflector_) {
            reflector_->Stop();
        }
        StopWorker(
            [this] {
                if (receiver_.Running()) {
                    receiver_.Stop(kReceiverStopGraceMs);
                }
            },
            [this] { return receiver_.Running(); });
    }

    // `final` ends every session: it comes after the receiver has stopped.
    Report TakeReport(double elapsedSeconds, bool final) {
        Report report;
        report.time = std::chrono::system_clock::now();
        report.elapsedSeconds = elapsedSeconds;
        report.final = final;
        if (options_.Sends()) {
            report.sender = sender_.Statistics();
            report.packetSize = EffectivePacketSize(options_.packetSize);
            report.load = LoadOf(options_, endpoints_.destination.IsIpv6());
            publishedSender_->Set(SenderFigures{endpoints_.destination.ToString(), *report.sender, *report.load});
        }
        if (options_.Receives()) {
            report.receiver = receiver_.Statistics();
            report.receiverBufferSize =
                ReceiveBufferSize(ReceiverSettings{endpoints_.local, options_.packetSize, endpoints_.dualStack});
            report.readsTrafficClass = receiver_.ReadsTrafficClass();
            report.kernelTimestamps = receiver_.KernelTimestamps();
            report.grantedReceiveBuffer = receiver_.GrantedReceiveBuffer();
            report.sessions = sessions_.TakeReport(final);
            JudgeCalls(*report.sessions, options_.judgement);
            report.sessions->hostDrops = receiver_.HostDrops();
            report.sessions->truncatedDatagrams = report.receiver->truncatedCount;
            if (published_) {
                published_->Set(*report.sessions);
            }
        }
        if (echoes_) {
            report.roundTrip = JudgeRoundTrip(echoes_->TakeReport(),
                                              options_.codecName ? FindVoiceCodec(*options_.codecName) : std::nullopt);
            // The echoes were taken after the sender's figures: a packet sent in between counts as none.
            report.roundTrip->unresolved = std::max<int64_t>(
                0, report.sender->sentPackets + report.sender->wouldBlockCount - report.roundTrip->figures.sentThrough);
        }
        if (reflector_) {
            report.reflector = ReflectorReport{reflector_->Counts(), reflector_->KernelTimestamps(),
                                               reflector_->GrantedReceiveBuffer()};
        }
        return report;
    }

    RunObserver& Observer() { return observer_; }

    // True when a worker did not end within its stop's bound: it still uses this object.
    bool WorkerStuck() const { return stuck_; }

  private:
    // A worker may end by itself between the test and the stop, which then throws its
    // not-started error; the error that ended it, if any, has gone to the observer. A worker
    // still running after its stop gave up makes the run fail with that error.
    void StopWorker(const std::function<void()>& stop, const std::function<bool()>& running) {
        try {
            stop();
        } catch (Exception* e) {
            ExceptionOwner owner(e);
            if (running()) {
                stuck_ = true;
                observer_.ReportError(owner.release());
            }
        }
    }

    void WaitWhileReceiving() {
        WaitWhileTaking([this] { return receiver_.Running() ? receiver_.Statistics().bytesReceived : -1; });
    }

    // Until `taken` rests for one look, for at most kDrainLooks looks.
    static void WaitWhileTaking(const std::function<int64_t()>& taken) {
        int64_t last = taken();
        for (int look = 0; look < kDrainLooks; ++look) {
            std::this_thread::sleep_for(kDrainLook);
            const int64_t now = taken();
            if (now == last) {
                return;
            }
            last = now;
        }
    }

    // The sending socket, opened here so that the echoes come back to it and a thread of their
    // own takes them; false after the error went to the observer.
    bool StartRoundTrip(SenderSettings& settings) {
        const Endpoint local = SenderLocalEndpoint(settings);
        roundTripSocket_ = UdpSocket::Open(settings.destination);
        if (!roundTripSocket_.Valid() || !roundTripSocket_.Bind(local)) {
            observer_.FailWith("veltrane-cli: cannot send from " + BindFailure(local, roundTripSocket_.Valid()
                                                                                          ? roundTripSocket_.LastError()
                                                                                          : LastSocketError()));
            return false;
        }
        roundTripSocket_.EnableKernelStamps();
        auto log = std::make_shared<SentPacketLog>(settings.packetsPerPeriod, settings.finisher);
        settings.finisher = log;
        settings.sharedSocket = roundTripSocket_.Get();
        echoes_ = std::make_unique<RoundTripEchoes>(roundTripSocket_.Get(), EffectivePacketSize(settings.packetSize),
                                                    settings.destination, log, tags_.loopCheck);
        return true;
    }

    void StartReflector() {
        ReflectorSettings settings;
        settings.local = endpoints_.local;
        settings.dualStack = endpoints_.dualStack;
        settings.datagramSize = std::min(options_.packetSize, endpoints_.local.MaxDatagramPayload());
        settings.receiveBuffer = options_.receiveBufferBytes;
        settings.sources = ReflectorSourcesSettings{options_.sessionTimeoutSeconds, options_.maxSessions};
        settings.check = tags_.loopCheck;
        settings.retag = tags_.loopRetag;
        std::string error;
        reflector_ = Reflector::Start(settings, error);
        if (!reflector_) {
            observer_.FailWith("veltrane-cli: " + error);
        }
    }

    const CliOptions& options_;
    const Endpoints& endpoints_;
    PublishedSessions* published_;
    PublishedSender* publishedSender_;
    const RunTags tags_;
    RunObserver observer_;
    SessionTable sessions_;  // before the receiver: it takes the datagrams as long as the receiver runs
    Receiver receiver_;
    SocketLibrary socketLibrary_;              // for the sockets below, which the run opens itself
    UdpSocket roundTripSocket_;                // send --round-trip: shared by the sender and the echoes
    std::unique_ptr<RoundTripEchoes> echoes_;  // stopped before the socket closes
    std::unique_ptr<Reflector> reflector_;
    Sender sender_;  // after the receiver: destroyed, and so stopped, first
    bool stuck_ = false;
};

// Writes the reports, and says once when the receiver drops datagrams too long for its
// buffer: otherwise the run would show nothing but a loss of 100 %.
class ReportWriter {
  public:
    ReportWriter(const CliOptions& options, std::ostream& out, std::ostream& err)
        : options_(options), out_(out), err_(err) {}

    void Write(const Report& report) {
        if (!options_.quiet) {
            Print(report);
        }
        if (report.receiver && report.receiver->truncatedCount > 0 && !truncationTold_) {
            err_ << TruncationNotice(*report.receiver, report.receiverBufferSize) << std::flush;
            truncationTold_ = true;
        }
    }

  private:
    void Print(const Report& report) {
        out_ << (options_.json ? ReportJsonLines(report, options_.histogram)
                               : ReportText(report, options_.dialogText ? TextStyle::Dialog : TextStyle::Readable));
        // Flushed at once: a pipe to another tool or a file that is watched must see each
        // report when it is made.
        out_.flush();
    }

    const CliOptions& options_;
    std::ostream& out_;
    std::ostream& err_;
    bool truncationTold_ = false;
};

double SecondsSince(SteadyClock::time_point start) {
    return std::chrono::duration<double>(SteadyClock::now() - start).count();
}

// Reports on the interval until the duration ends, a stop is requested or a worker fails.
// Returns false when a worker was lost without an error report.
bool ReportUntilEnd(const CliOptions& options,
                    Run& run,
                    SteadyClock::time_point start,
                    const std::atomic<bool>& stopRequested,
                    ReportWriter& writer) {
    const auto interval = std::chrono::milliseconds(options.intervalMs);
    SteadyClock::time_point nextReport = start + interval;
    std::optional<SteadyClock::time_point> end;
    if (options.durationSeconds) {
        end = start + std::chrono::duration_cast<SteadyClock::duration>(
                          std::chrono::duration<double>(*options.durationSeconds));
    }
    while (!stopRequested.load() && !run.Observer().Failed()) {
        if (run.WorkerLost()) {
            run.TellLoopFailure();
            return run.Observer().Failed();
        }
        const SteadyClock::time_point now = SteadyClock::now();
        if (end && now >= *end) {
            break;
        }
        if (now >= nextReport) {
            writer.Write(run.TakeReport(SecondsSince(start), false));
            // A late report is not made up for: the next one is one interval on.
            nextReport = std::max(nextReport + interval, now);
        }
        SteadyClock::time_point wake = std::min(now + kPollSlice, nextReport);
        if (end) {
            wake = std::min(wake, *end);
        }
        std::this_thread::sleep_until(wake);
    }
    return true;
}

// A run whose worker did not end: kept, never destroyed (that would join the worker), and
// reachable from here for the rest of the process, whose end ends the worker.
void Abandon(std::unique_ptr<Run> run) {
    static auto* const abandoned = new std::vector<std::unique_ptr<Run>>;
    abandoned->push_back(std::move(run));
}

}  // namespace

int RunMeasurement(const CliOptions& options,
                   const std::atomic<bool>& stopRequested,
                   std::ostream& out,
                   std::ostream& err,
                   const std::function<void()>& started,
                   PublishedSessions* published) {
    const std::optional<Endpoints> endpoints = ResolveEndpoints(options, err);
    if (!endpoints) {
        return kExitError;
    }
    if (!PacketSizeFits(options, *endpoints, err)) {
        return kExitUsage;
    }
    const std::optional<RunTags> tags = MakeRunTags(options, err);
    if (!tags) {
        return kExitError;
    }
    // What the report thread last published, for the metrics endpoint's scrapes: the caller's
    // holder (not owned), or the run's own.
    const std::shared_ptr<PublishedSessions> holder =
        published != nullptr ? std::shared_ptr<PublishedSessions>(std::shared_ptr<void>(), published)
                             : std::make_shared<PublishedSessions>();
    const auto publishedSender = std::make_shared<PublishedSender>();
#ifndef _WIN32
    // Listening first: a busy port ends the run before anything is sent or received.
    std::unique_ptr<MetricsServer> metrics;
    if (options.metrics) {
        std::string error;
        // A sending run serves its sender's figures; a receiving one its sessions.
        metrics = options.Receives()
                      ? MetricsServer::Start(*options.metrics, holder, options.metricLabels, error)
                      : MetricsServer::Start(
                            *options.metrics,
                            [publishedSender, labels = options.metricLabels](ExpositionFormat format) {
                                const std::shared_ptr<const SenderFigures> latest = publishedSender->Get();
                                return SenderMetricsExposition(latest.get(), labels, format);
                            },
                            error);
        if (!metrics) {
            err << "veltrane-cli: " << error << "\n";
            return kExitError;
        }
    }
#endif
    // On the heap: a worker that does not end within its stop's bound keeps using the run,
    // which is then left to it, as the end of the process will end the worker.
    auto run = std::make_unique<Run>(options, *endpoints, holder.get(), publishedSender.get(), *tags);
    run->Start();
    if (started) {
        started();
    }
    const SteadyClock::time_point start = SteadyClock::now();
    ReportWriter writer(options, out, err);
    const bool workersKept = ReportUntilEnd(options, *run, start, stopRequested, writer);
    run->StopSender();
    // Up to the end of sending: a loop-back run's wait for the last packets is not measuring.
    const double elapsed = SecondsSince(start);
    run->StopReceiver();
    if (run->Observer().Failed()) {
        err << run->Observer().ErrorText() << "\n";
        if (run->WorkerStuck()) {
            Abandon(std::move(run));
        }
        return kExitError;
    }
    if (!workersKept) {
        err << "veltrane-cli: a worker thread could not be started\n";
        return kExitError;
    }
    writer.Write(run->TakeReport(elapsed, true));
    return kExitSuccess;
}
