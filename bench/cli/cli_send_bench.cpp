// How fast veltrane-cli sends, against a plain sendto loop on the same machine.
//
// Both send datagrams of the same size, as fast as they can, from a non-blocking socket to a
// port on 127.0.0.1 that nobody reads (so the receiving side costs nothing): the plain loop
// in this process, veltrane-cli as its own process with --period 0 --count 1000. The figure
// is the ratio of their packet rates; the rounds alternate so that a busy moment of the
// machine does not fall on one side only, and the median ratio is reported. veltrane-cli runs
// with both paces, which must send equally fast at --period 0 (there is no schedule to keep).
//
// usage: veltrane_cli_bench [SECONDS_PER_ROUND] [ROUNDS] [PACKET_SIZE]

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace {

using SteadyClock = std::chrono::steady_clock;

// A socket bound to a port of the system's choice on 127.0.0.1 that is never read.
struct Sink {
    Sink() {
        fd = socket(AF_INET, SOCK_DGRAM, 0);
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof(address);
        if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
            getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
            std::perror("sink");
            std::exit(1);
        }
    }
    ~Sink() { close(fd); }
    int fd = -1;
    sockaddr_in address{};
};

// Packets per second of a non-blocking sendto loop; refused sends do not count.
double PlainLoopRate(const Sink& sink, double seconds, size_t packetSize) {
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    std::vector<char> packet(packetSize);
    int64_t sent = 0;
    const SteadyClock::time_point start = SteadyClock::now();
    const SteadyClock::time_point end =
        start + std::chrono::duration_cast<SteadyClock::duration>(std::chrono::duration<double>(seconds));
    SteadyClock::time_point now = start;
    while (now < end) {
        for (int i = 0; i < 1000; ++i) {
            if (sendto(fd, packet.data(), packet.size(), 0, reinterpret_cast<const sockaddr*>(&sink.address),
                       sizeof(sink.address)) >= 0) {
                ++sent;
            }
        }
        now = SteadyClock::now();
    }
    close(fd);
    return static_cast<double>(sent) / std::chrono::duration<double>(now - start).count();
}

// Packets per second of veltrane-cli send, from its final report: the packets it sent over
// the duration of its pacing loop.
double CliRate(const Sink& sink, double seconds, size_t packetSize, const char* pace) {
    const std::string command = std::string(VELTRANE_CLI_PROGRAM) + " send --to 127.0.0.1 --port " +
                                std::to_string(ntohs(sink.address.sin_port)) + " --source-port 0 --pace " + pace +
                                " --period 0 --count 1000 --size " + std::to_string(packetSize) + " --duration " +
                                std::to_string(seconds) + " --interval 3600000 --json";
    FILE* program = popen(command.c_str(), "r");
    if (program == nullptr) {
        std::perror("popen");
        std::exit(1);
    }
    std::string output;
    char buffer[4096];
    for (size_t n; (n = std::fread(buffer, 1, sizeof(buffer), program)) > 0;) {
        output.append(buffer, n);
    }
    if (pclose(program) != 0) {
        std::fprintf(stderr, "veltrane-cli failed: %s\n", output.c_str());
        std::exit(1);
    }
    const nlohmann::json sender = nlohmann::json::parse(output)["sender"];
    return sender["sentPackets"].get<double>() / sender["duration"].get<double>();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
    const double seconds = argc > 1 ? std::atof(argv[1]) : 3.0;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 3;
    const size_t packetSize = argc > 3 ? static_cast<size_t>(std::atoi(argv[3])) : 192;
    if (seconds <= 0 || rounds <= 0 || packetSize < 32 || packetSize > 65507) {
        std::fprintf(stderr, "usage: veltrane_cli_bench [SECONDS_PER_ROUND] [ROUNDS] [PACKET_SIZE 32..65507]\n");
        return 2;
    }
    const Sink sink;
    std::vector<double> ratios;
    std::vector<double> paceRatios;
    for (int round = 1; round <= rounds; ++round) {
        const double plain = PlainLoopRate(sink, seconds, packetSize);
        // Each pace goes first in every other round: the second of two programs started back
        // to back may meet a machine still busy with the first.
        const bool fixedFirst = round % 2 == 1;
        const double first = CliRate(sink, seconds, packetSize, fixedFirst ? "fixed" : "pause");
        const double second = CliRate(sink, seconds, packetSize, fixedFirst ? "pause" : "fixed");
        const double fixed = fixedFirst ? first : second;
        const double pause = fixedFirst ? second : first;
        ratios.push_back(fixed / plain);
        paceRatios.push_back(fixed / pause);
        std::printf(
            "round %d: plain sendto loop %.0f packets/s, veltrane-cli send %.0f packets/s (fixed pace) and %.0f "
            "(pause), ratios %.3f and fixed/pause %.3f\n",
            round, plain, fixed, pause, fixed / plain, fixed / pause);
        std::fflush(stdout);
    }
    std::printf("median ratio veltrane-cli / plain sendto (%zu-byte packets): %.3f (aim: at least 0.9)\n", packetSize,
                Median(ratios));
    std::printf("median ratio fixed pace / pause at --period 0: %.3f (aim: 1)\n", Median(paceRatios));
    return 0;
}
