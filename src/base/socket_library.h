#pragma once
// Keeps the platform's socket library initialised for a scope (WSAStartup 2.0 /
// WSACleanup on Windows; nothing to do on POSIX).

class SocketLibrary {
  public:
    SocketLibrary();
    ~SocketLibrary();
    SocketLibrary(const SocketLibrary&) = delete;
    SocketLibrary& operator=(const SocketLibrary&) = delete;

    // False when the initialisation failed; then no socket may be used.
    bool Started() const { return started_; }

  private:
    bool started_;
};
