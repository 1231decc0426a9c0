#pragma once
// A round-trip run's echoes: each test packet as a reflector returned it with its stamps. From
// them the round-trip time (the path's, the reflector's turnaround taken out), the turnaround,
// the loss on the way out told from the loss on the way back by the reflector's count, and the
// one-way delay variation of each way, which needs no clock sync: each way's delays are only
// compared with each other.

#include <bitset>
#include <cstdint>
#include <memory>
#include <optional>

#include "base/udp_socket.h"
#include "sessions/playout_buffer.h"
#include "sessions/sample_distribution.h"
#include "sessions/sent_packet_log.h"
#include "sessions/session_figures.h"

struct RoundTripDistributions {
    std::optional<DistributionSummary> roundTrip;   // ms, turnaround taken out
    std::optional<DistributionSummary> turnaround;  // ms, the reflector's hold
    std::optional<PdvSummary> forwardPdv;           // ms above the run's least one-way delay out
    std::optional<PdvSummary> returnPdv;            // likewise back
};

struct RoundTripFigures {
    RoundTripDistributions run;
    RoundTripDistributions interval;
    int64_t echoes = 0;           // distinct echoes taken
    int64_t sentThrough = 0;      // packets sent up to the latest echoed one
    int64_t reflected = 0;        // of those, the reflector received (its count)
    int64_t forwardLost = 0;      // lost on the way out (sentThrough - reflected)
    int64_t returnLost = 0;       // lost on the way back (reflected - echoes)
    int64_t forwardLossRuns = 0;  // runs of packets lost on the way out, for the call verdict
    int64_t refusedEchoes = 0;    // datagrams on the sending socket that are no echo of ours
    int64_t duplicateEchoes = 0;
    std::optional<JitterBufferFigures> forwardJitterBuffer;
};

class RoundTripAnalysis {
  public:
    // `from`: the reflector's endpoint; `log`: the packets sent; `frequency`: of the sender's
    // and the arrivals' clock.
    RoundTripAnalysis(const Endpoint& from, std::shared_ptr<const SentPacketLog> log, int64_t frequency);

    // One datagram on the sending socket, at its arrival.
    void Take(const ReceivedDatagram& datagram);

    // The figures so far; the interval's start over.
    RoundTripFigures TakeReport();

  private:
    struct Echo;
    struct Window {
        SampleDistribution roundTrip, turnaround, forward, back;
        void Absorb(const Window& part);
        void Reset();
    };
    std::optional<Echo> Check(const ReceivedDatagram& datagram) const;
    bool Fresh(int64_t sequence);
    void Count(const Echo& echo);
    RoundTripDistributions Summaries(const Window& window) const;

    const Endpoint from_;
    const std::shared_ptr<const SentPacketLog> log_;
    const int64_t frequency_;
    Window run_;  // the whole run's, but for the interval's samples, which each report adds
    Window interval_;
    PlayoutLateness forwardLateness_;
    std::optional<double> firstForwardMs_, firstReturnMs_;  // the references of each way's delays
    double leastForwardMs_ = 0, leastReturnMs_ = 0;         // relative to them
    std::bitset<kSentPacketsRemembered> seen_;              // by sequence modulo its size
    int64_t highest_ = -1;                                  // the latest sequence echoed
    int64_t highestCount_ = 0;                              // the reflector's count on it
    RoundTripFigures counts_;
};
