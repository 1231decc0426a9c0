#pragma once
// Decides whether a datagram comes from a sender that holds the run's key. The session table
// asks it before anything else: a datagram it refuses reaches no session. Called on the
// receiving thread only.

#include <cstdint>

class DatagramAuthenticator {
  public:
    virtual ~DatagramAuthenticator() = default;
    virtual bool Authentic(const uint8_t* datagram, int64_t length) = 0;
};
