#include "cli/receiver_wake.h"

#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <system_error>
#include <thread>

#include "base/socket_library.h"
#include "measure/receiver.h"

namespace {

constexpr auto kWakeRepeat = std::chrono::milliseconds(20);

// Where a datagram reaches the receiver from this host: its own address, or the loop-back
// address of its family when it listens on every interface.
std::optional<Endpoint> WakeTarget(const Endpoint& local, uint16_t port) {
    std::string address = local.ToString();
    address.erase(address.rfind(':'));
    if (local.IsIpv6()) {
        address = address.substr(1, address.size() - 2);  // without the brackets
    }
    if (address == "0.0.0.0") {
        return Endpoint::Ipv4(0x7F000001, port);
    }
    return Endpoint::Resolve(address == "::" ? "::1" : address.c_str(), port);
}

// Sends an empty datagram every few milliseconds until it goes out of scope.
class Waker {
  public:
    explicit Waker(const Endpoint& target) : thread_([this, target] { Run(target); }) {}
    ~Waker() {
        done_.store(true);
        thread_.join();
    }
    Waker(const Waker&) = delete;
    Waker& operator=(const Waker&) = delete;

  private:
    void Run(const Endpoint& target) {
        SocketLibrary library;
        UdpSocket socket = UdpSocket::Open(target);
        const char nothing = 0;
        while (socket.Valid() && !done_.load()) {
            socket.SendTo(&nothing, 0, target);
            std::this_thread::sleep_for(kWakeRepeat);
        }
    }

    std::atomic<bool> done_{false};
    std::thread thread_;  // last: started once the flag exists
};

}  // namespace

void StopReceiverPromptly(Receiver& receiver, const Endpoint& local, uint16_t port) {
    // The engine waits a whole second for a datagram before it closes the socket; a wake-up
    // datagram ends that wait at once. Without one (no target, no thread) the engine's own
    // close still ends the receiver.
    const std::optional<Endpoint> target = WakeTarget(local, port);
    std::optional<Waker> waker;
    if (target) {
        try {
            waker.emplace(*target);
        } catch (const std::system_error&) {
        }
    }
    receiver.Stop();
}
