#include "relay/relay_loop.h"

#include "platform/platform.h"
#include "relay/game_traffic.h"

namespace tessard {

NetAddress clientGameAddress;
NetAddress serverGameAddress;
NetAddress clientAuxAddress;
NetAddress serverAuxAddress;

namespace {

constexpr std::uint32_t kPassPauseMs = 10;

// Sends the datagram on to the other side of its pair and tells which way
// it went. A datagram not from the server makes its sender the client.
Direction Forward(const Datagram& datagram, UdpEndpoint& endpoint, NetAddress& client,
                  const NetAddress& server) {
  Direction direction = Direction::kServerToClient;
  if (datagram.source.Equals(server)) {
    endpoint.SetDestination(client);
  } else {
    client.Assign(datagram.source);
    endpoint.SetDestination(server);
    direction = Direction::kClientToServer;
  }
  endpoint.Send(datagram.bytes.get(), datagram.length);  // a failed send is not retried
  return direction;
}

// A datagram from one of the relay's own ports on this machine is one the
// relay sent itself (a server address that points back at it) or a forgery:
// carried, it would make the relay its own client and loop with the server.
bool FromThisRelay(const Datagram& datagram, const UdpEndpoint& gameEndpoint,
                   const UdpEndpoint& auxEndpoint) {
  const std::uint16_t port = datagram.source.HostPort();
  return port != 0 && (port == gameEndpoint.LocalPort() || port == auxEndpoint.LocalPort()) &&
         platform::IsLocalAddress(datagram.source.address);
}

// When a datagram was taken, for its capture record; the clock is read
// only when there is a capture to stamp.
std::uint64_t TimeTaken(const TrafficCapture* capture) {
  return capture == nullptr ? 0 : platform::WallClockMicroseconds();
}

}  // namespace

void RelayPass(UdpEndpoint& gameEndpoint, UdpEndpoint& auxEndpoint, TrafficCapture* capture) {
  if (auto datagram = gameEndpoint.Receive();
      datagram && !FromThisRelay(*datagram, gameEndpoint, auxEndpoint)) {
    const std::uint64_t takenAt = TimeTaken(capture);
    PrepareWorkCopy(*datagram);
    const Direction direction =
        Forward(*datagram, gameEndpoint, clientGameAddress, serverGameAddress);
    const char* event = InspectGameDatagram(*datagram, direction, gameEndpoint);
    if (capture != nullptr) {
      capture->RecordGame(takenAt, *datagram, gameEndpoint.Destination(), direction, event);
    }
  }
  if (auto datagram = auxEndpoint.Receive();
      datagram && !FromThisRelay(*datagram, gameEndpoint, auxEndpoint)) {
    const std::uint64_t takenAt = TimeTaken(capture);
    const Direction direction = Forward(*datagram, auxEndpoint, clientAuxAddress, serverAuxAddress);
    if (capture != nullptr) {
      capture->RecordAuxiliary(takenAt, *datagram, auxEndpoint.Destination(), direction);
    }
  }
}

void RelayLoop(UdpEndpoint& gameEndpoint, UdpEndpoint& auxEndpoint, TrafficCapture* capture) {
  platform::BeginFinePassTiming();
  while (!platform::KeyPressed() && !platform::StopRequested()) {
    RelayPass(gameEndpoint, auxEndpoint, capture);
    platform::SleepAlertable(kPassPauseMs);
  }
  platform::EndFinePassTiming();
}

}  // namespace tessard
