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
#endif

#include <string>

// The text of a getaddrinfo status other than 0.
std::string ResolverErrorText(int status);
