#pragma once
// Waiting for a datagram with a time-out, for a thread that shares its socket with another
// (which set it non-blocking) and must see a stop request without closing the socket.

#include <cstdint>

#include "base/udp_socket.h"

// True when a datagram waits on `handle` (or the socket failed: the receive then tells), false
// after `timeoutMs` without one.
bool WaitReadable(SocketHandle handle, int timeoutMs);
