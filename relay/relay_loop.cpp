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

}  // namespace

void RelayPass(UdpEndpoint& gameEndpoint, UdpEndpoint& auxEndpoint) {
  if (auto datagram = gameEndpoint.Receive()) {
    PrepareWorkCopy(*datagram);
    const Direction direction =
        Forward(*datagram, gameEndpoint, clientGameAddress, serverGameAddress);
    InspectGameDatagram(*datagram, direction, gameEndpoint);
  }
  if (auto datagram = auxEndpoint.Receive()) {
    Forward(*datagram, auxEndpoint, clientAuxAddress, serverAuxAddress);
  }
}

void RelayLoop(UdpEndpoint& gameEndpoint, UdpEndpoint& auxEndpoint) {
  platform::BeginFinePassTiming();
  while (!platform::KeyPressed() && !platform::StopRequested()) {
    RelayPass(gameEndpoint, auxEndpoint);
    platform::SleepAlertable(kPassPauseMs);
  }
  platform::EndFinePassTiming();
}

}  // namespace tessard
