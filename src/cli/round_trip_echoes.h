#pragma once
// The echoes of a round-trip run, taken on the sending socket by a thread of their own and
// analysed as they come; the report thread takes the figures.

#include <memory>
#include <mutex>

#include "cli/datagram_loop.h"
#include "sessions/datagram_authenticator.h"
#include "sessions/round_trip.h"

class RoundTripEchoes {
  public:
    // `socket`: the sender's, open until Stop; `tag`, when given, must pass each echo (keyed run).
    RoundTripEchoes(SocketHandle socket,
                    uint32_t datagramSize,
                    const Endpoint& reflector,
                    std::shared_ptr<const SentPacketLog> log,
                    std::shared_ptr<DatagramAuthenticator> tag);

    RoundTripFigures TakeReport();
    int64_t Taken() const { return loop_.Taken(); }
    bool Failed() const { return loop_.Failed(); }
    std::string FailureText() const { return loop_.FailureText(); }
    void Stop() { loop_.Stop(); }

  private:
    void Take(const ReceivedDatagram& datagram);

    std::mutex mutex_;  // guards the analysis and the count below
    RoundTripAnalysis analysis_;
    int64_t unauthenticated_ = 0;
    const std::shared_ptr<DatagramAuthenticator> tag_;  // the loop's thread's only
    DatagramLoop loop_;                                 // last: its thread uses the members above
};
