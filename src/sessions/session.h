#pragma once
// One sender's session at the far end: its own header checks, its runs and every figure a
// report tells of it. Its memory is bounded however long it runs: the distributions have
// fixed bins, the skew's hull is thinned and the loss window holds a fixed number of groups.

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "base/udp_socket.h"
#include "measure/end_of_run.h"
#include "measure/packet_check.h"
#include "measure/receiver_statistics.h"
#include "sessions/call_streams.h"
#include "sessions/clock_skew.h"
#include "sessions/decaying_histogram.h"
#include "sessions/interarrival_jitter.h"
#include "sessions/loss_accountant.h"
#include "sessions/playout_buffer.h"
#include "sessions/provisional_loss.h"
#include "sessions/sample_distribution.h"
#include "sessions/sender_name.h"
#include "sessions/session_figures.h"

class Session {
  public:
    // `number`: the session's place in the order of start; `check`: the checks of the source,
    // whose run was just confirmed; `listeningSince`: when the far end began to listen. Times
    // are counter readings of the receiver's clock, which counts `frequency` per second.
    Session(int64_t number,
            const Endpoint& source,
            int64_t frequency,
            const PacketCheck& check,
            int64_t listeningSince);

    // Takes the test packets that began the session (none of them counted yet).
    void TakeFirstPackets(std::span<const HeldPacket> packets);

    // Its sender's packets now come from `source`, whose run `check` confirmed with `packets`
    // (none of them counted yet): the session goes on there with a new run.
    void MoveTo(const Endpoint& source, const PacketCheck& check, std::span<const HeldPacket> packets);
    // Whether its sender's packets agree on `name` (never empty).
    bool NamedAs(std::string_view name) const { return name_.Is(name); }

    // Takes one datagram from the session's source; returns how many datagrams it showed to
    // be no test packets (itself, or those a dropped candidate run held).
    int64_t Take(const ReceivedDatagram& datagram);

    // An end of run from the session's source: true when it can end the current run (its
    // copies too). The session then ends at the next report, unless a packet of a later group
    // comes first: then the end was none of its sender's.
    bool TakeEndOfRun(const EndOfRun& end, int64_t arrival);
    bool EndedBySender() const { return endOfRun_.has_value(); }

    // Counts a datagram from the session's source that was too long for the receive buffer
    // (`fullLength`: 0 when unknown): it is no test packet.
    void TakeOversized(int64_t fullLength);

    // The figures as they are at `now` (a reading of the receiver's clock), and the next
    // report interval starts. `final`: the session ends, so the packets still missing from its
    // window count as lost (as far as its sender's end of run tells, when one came).
    SessionFigures TakeFigures(bool final, int64_t now);

    int64_t LastTestPacketCounter() const { return lastTestPacket_; }
    // Datagrams waiting with a candidate run: no test packets once the session ends.
    int64_t HeldPackets() const { return check_.HeldPackets(); }
    // The sender's seconds per group; none before its second group.
    std::optional<double> PeriodSeconds() const { return check_.PeriodSeconds(); }

  private:
    void CountNotTestPackets(int64_t datagrams);
    void StartRun();
    void TakeHeldPackets(std::span<const HeldPacket> packets);
    void FinishRunLoss();
    void DecideLostHead();
    void TakeTestPacket(const TestPacketHeader& header, std::optional<uint16_t> statedGroupSize, int64_t arrival);
    void Analyse(const TestPacketHeader& header, int64_t arrival);
    void AnalyseCall(const TestPacketHeader& header, int64_t arrival);
    void AnalysePending();
    void AddSample(const CallSample& sample);
    void AddJitterSample(double jitterMs);
    LossFigures PacketFigures() const;
    void AddSilence(SessionFigures& figures, int64_t now);
    std::optional<DistributionSummary> SkewRemovedSummary() const;
    double SecondsBetween(int64_t end, int64_t start) const;

    int64_t number_;
    Endpoint source_;
    int64_t frequency_;  // of the receiver's clock
    int64_t listeningSince_;
    // Until the run's reference packet and its sender's period tell when its group 0 was due:
    // whether the groups before its first packet were lost is not decided yet.
    bool headUndecided_ = false;
    int64_t lastTestPacket_;
    int64_t run_ = 0;
    std::optional<EndOfRun> endOfRun_;  // the current run's, as its sender told
    PacketCheck check_;
    ReceiverStatistics record_;  // all but the jitter histogram, which is kept below
    DecayingHistogram jitterHistogram_;
    LossAccountant loss_;
    LossFigures earlierRuns_;  // the loss figures of the runs before the current one
    int64_t earlierRunsLongestInInterval_ = 0;
    LossFigures intervalStart_;  // the cumulative figures at the start of the interval
    ProvisionalLoss provisional_;
    // The whole session's, but for the interval's samples, which each report adds.
    SampleDistribution jitter_;
    SampleDistribution delay_;
    // Its mean and spread come from the skew's fit (SkewRemovedSummary).
    SampleDistribution delaySkewRemoved_{MeanAndSpread::LeftOut};
    SampleDistribution intervalJitter_;
    SampleDistribution intervalDelay_;
    SampleDistribution intervalDelaySkewRemoved_;  // for the interval's delay variation
    // Packets beyond the group size so far: analysed if it grows to take them in, as it does
    // in a run's first groups. Bounded: a flood of forged indexes is never analysed anyway.
    struct PendingPacket {
        TestPacketHeader header;
        int64_t arrival;
    };
    static constexpr size_t kMostPendingPackets = 4096;
    std::vector<PendingPacket> pending_;
    CallStreams calls_;                 // the packets after each group's first, each index a call of its own
    InterarrivalJitter rfc3550Jitter_;  // of the first packets, as one call
    ClockSkewEstimator skew_;
    Moments earlierRunsSkewRemoved_;  // of the runs before the current one, each with its own fit
    JitterBuckets jitterBuckets_;     // each bucket's own samples: a report sums them up to each bound
    PlayoutLateness playout_;
    SenderName name_;
};
