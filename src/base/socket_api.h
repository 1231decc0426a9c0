#pragma once
// The platform's socket declarations, for the socket implementation files only.

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
using SocketLength = int;
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
using SocketLength = socklen_t;

// The TOS / traffic class byte a received datagram's control message tells; -1 when the
// message tells something else.
int ReceivedTrafficClass(const cmsghdr& item);
#endif

#include <string>

// The text of a getaddrinfo status other than 0.
std::string ResolverErrorText(int status);
