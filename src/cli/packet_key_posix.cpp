#include "cli/packet_key.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

// Closes the file however the reading ends.
class OpenFile {
  public:
    explicit OpenFile(const std::string& path) : fd_(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY)) {}
    ~OpenFile() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;
    int Fd() const { return fd_; }

  private:
    int fd_;
};

std::string ModeText(mode_t mode) {
    char text[8];
    std::snprintf(text, sizeof(text), "%04o", static_cast<unsigned>(mode & 07777));
    return text;
}

}  // namespace

std::optional<PacketKey> ReadPacketKey(const std::string& path, std::string& error) {
    const std::string named = "--key " + path + ": ";
    const OpenFile file(path);
    if (file.Fd() < 0) {
        error = named + "cannot open the key file: " + std::strerror(errno);
        return std::nullopt;
    }
    // The opened file itself is checked, so that it cannot be swapped between check and read.
    struct stat status {};
    if (fstat(file.Fd(), &status) != 0) {
        error = named + "cannot read the key file's mode: " + std::strerror(errno);
        return std::nullopt;
    }
    if (!S_ISREG(status.st_mode)) {
        error = named + "the key must be a regular file";
        return std::nullopt;
    }
    // A key others can read signs packets for anyone who reads it.
    if ((status.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
        error = named + "the key file grants access to others (mode " + ModeText(status.st_mode) +
                "); make it readable by its owner only: chmod 600 " + path;
        return std::nullopt;
    }
    if (status.st_size != static_cast<off_t>(kPacketKeySize)) {
        error = named + "a key file holds exactly 32 bytes, this one " + std::to_string(status.st_size) +
                "; make one with: head -c 32 /dev/urandom > " + path;
        return std::nullopt;
    }
    PacketKey key{};
    size_t got = 0;
    while (got < key.size()) {
        const ssize_t n = read(file.Fd(), key.data() + got, key.size() - got);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            error = named + "cannot read the key file" + (n < 0 ? std::string(": ") + std::strerror(errno) : "");
            return std::nullopt;
        }
        got += static_cast<size_t>(n);
    }
    return key;
}
