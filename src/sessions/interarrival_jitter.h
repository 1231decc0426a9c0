#pragma once
// The interarrival jitter of RTP (RFC 3550, 6.4.1), the figure phones put in their RTCP
// reports: J += (|D| - J) / 16, where D is the difference of consecutive packets' transit times.

#include <optional>

class InterarrivalJitter {
  public:
    // Takes one packet's transit time in ms; any constant offset (the two clocks') cancels.
    // A time that is not finite is left out.
    void AddTransit(double transitMs);
    // Forgets the previous packet: no difference spans a restart of the sender.
    void Restart() { previousTransitMs_.reset(); }
    // In ms; none before the second packet.
    std::optional<double> JitterMs() const { return jitterMs_; }

  private:
    std::optional<double> previousTransitMs_;
    std::optional<double> jitterMs_;
};
