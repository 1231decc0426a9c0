#include "cli/round_trip_echoes.h"

#include "base/clock.h"

RoundTripEchoes::RoundTripEchoes(SocketHandle socket,
                                 uint32_t datagramSize,
                                 const Endpoint& reflector,
                                 std::shared_ptr<const SentPacketLog> log,
                                 std::shared_ptr<DatagramAuthenticator> tag)
    : analysis_(reflector, std::move(log), QueryCounterFrequency()),
      tag_(std::move(tag)),
      loop_(socket, datagramSize, [this](const ReceivedDatagram& datagram) { Take(datagram); }) {}

void RoundTripEchoes::Take(const ReceivedDatagram& datagram) {
    // Checked before the lock: the tag's cost never holds up a report.
    const bool authentic = !tag_ || (!datagram.truncated && tag_->Authentic(datagram.bytes, datagram.length));
    const std::lock_guard<std::mutex> lock(mutex_);
    if (!authentic) {
        ++unauthenticated_;
        return;
    }
    analysis_.Take(datagram);
}

RoundTripFigures RoundTripEchoes::TakeReport() {
    const std::lock_guard<std::mutex> lock(mutex_);
    RoundTripFigures figures = analysis_.TakeReport();
    figures.refusedEchoes += unauthenticated_;
    return figures;
}
