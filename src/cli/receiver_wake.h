#pragma once
// Stops a receiver promptly even when no traffic comes to end its blocked receive.

#include "base/udp_socket.h"

class Receiver;

// Receiver::Stop, while empty datagrams are sent to the receiver's own endpoint `local`
// (bound to `port`) so that its blocked receive returns and it sees its stop flag at once.
// Empty datagrams add 0 bytes and are never analysed. Throws what Receiver::Stop throws.
void StopReceiverPromptly(Receiver& receiver, const Endpoint& local, uint16_t port);
