#include "base/socket_api.h"
#include "base/socket_wait.h"

bool WaitReadable(SocketHandle handle, int timeoutMs) {
    WSAPOLLFD readable{static_cast<SOCKET>(handle), POLLRDNORM, 0};
    return WSAPoll(&readable, 1, timeoutMs) > 0;
}
