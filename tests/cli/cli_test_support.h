#pragma once
// Helpers for veltrane-cli's tests: command lines as argument vectors and free UDP ports.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "base/socket_library.h"
#include "base/udp_socket.h"
#include "cli/command_line.h"
#include "measure_test_support.h"

// Parses "veltrane-cli" followed by `arguments`.
inline ParsedCommandLine Parse(const std::vector<const char*>& arguments) {
    std::vector<const char*> argv{"veltrane-cli"};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    return ParseCommandLine(static_cast<int>(argv.size()), argv.data());
}
// A key file in the test folder holding `bytes`, with `permissions` (by default readable and
// writable by its owner only, as --key requires); removed when the object goes. Its name is
// this process's own, so that test programs run side by side never share one.
class KeyFile {
  public:
    explicit KeyFile(const std::string& name,
                     const std::string& bytes,
                     std::filesystem::perms permissions = std::filesystem::perms::owner_read |
                                                          std::filesystem::perms::owner_write)
        : path_(TempPath(name)) {
        std::ofstream(path_, std::ios::binary) << bytes;
        std::filesystem::permissions(path_, permissions);
    }
    ~KeyFile() {
        std::error_code ignored;
        std::filesystem::remove(path_, ignored);
    }
    KeyFile(const KeyFile&) = delete;
    KeyFile& operator=(const KeyFile&) = delete;
    const char* Path() const { return path_.c_str(); }

    // A path in the test folder named after `name` and this process.
    static std::string TempPath(const std::string& name) {
        static const std::string process = std::to_string(std::random_device{}());
        return ::testing::TempDir() + "veltrane-key-" + process + "-" + name;
    }

  private:
    std::string path_;
};

// True once something has bound the UDP port on 127.0.0.1 (or on every interface), within 10 s.
inline bool WaitUntilBound(uint16_t port) {
    SocketLibrary library;
    for (int attempt = 0; attempt < 1000; ++attempt) {
        UdpSocket probe = UdpSocket::Open(Endpoint());
        if (!probe.Bind(Endpoint::Ipv4(0x7F000001, port))) {
            return true;
        }
        probe.Close();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// 32 key bytes: 0, 1, 2 and so on, plus `offset`.
inline std::string KeyBytes(char offset = 0) {
    std::string bytes(32, '\0');
    for (size_t i = 0; i < bytes.size(); ++i) {
        bytes[i] = static_cast<char>(i + static_cast<size_t>(offset));
    }
    return bytes;
}
