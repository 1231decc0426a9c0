#pragma once
// Each packet index of a group as a call of its own. A load of calls sends packet i of every
// group on call i's clock, so the delay variation a call sees is that of the packets of its
// index: packet i of a group is measured against packet i of the latest earlier group
// received, as the first packets are against each other.

#include <cstdint>
#include <optional>
#include <vector>

#include "measure/test_packet.h"

// Where the run's relative delays start: the run's reference packet's send counter and
// arrival (a reading of the receiver's clock).
struct DelayReference {
    int64_t sendCounter = 0;
    int64_t arrival = 0;
};

// What one packet of a call measured.
struct CallSample {
    std::optional<double> jitterMs;  // none for a call's first packet of the run
    double delayMs = 0;              // relative one-way delay, from the run's reference packet
    double runSeconds = 0;           // the arrival on the receiver's clock, from the reference's
};

class CallStreams {
  public:
    // A new run: no call has a packet yet (the memory stays).
    void Restart();

    // Measures a new packet that arrived at `arrival` on the receiver's clock, which counts
    // `frequency` per second. The index must be below the largest group size tracked.
    CallSample Measure(const TestPacketHeader& header,
                       int64_t arrival,
                       int64_t frequency,
                       const DelayReference& reference);

  private:
    struct Latest {
        int64_t sendCounter = 0;
        int64_t arrival = 0;
        bool taken = false;
    };
    std::vector<Latest> latest_;  // by packet index, grown as indexes come
};
