#include <winsock2.h>

#include "base/socket_library.h"

// Windows Sockets 2.0; the library counts its users, so nested scopes are fine.
SocketLibrary::SocketLibrary() {
    WSADATA data;
    started_ = WSAStartup(MAKEWORD(2, 0), &data) == 0;
}

SocketLibrary::~SocketLibrary() {
    if (started_) {
        WSACleanup();
    }
}
