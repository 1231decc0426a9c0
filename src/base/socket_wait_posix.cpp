#include <poll.h>

#include "base/socket_wait.h"

bool WaitReadable(SocketHandle handle, int timeoutMs) {
    pollfd readable{handle, POLLIN, 0};
    return poll(&readable, 1, timeoutMs) > 0;
}
