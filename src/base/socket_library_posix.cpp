#include "base/socket_library.h"

// POSIX sockets need no initialisation.
SocketLibrary::SocketLibrary() : started_(true) {}

SocketLibrary::~SocketLibrary() = default;
