#include "relay/relay_loop.h"

#include "log/packet_log.h"
#include "platform/platform.h"
#include "relay/game_traffic.h"

namespace tessard {

NetAddress clientGameAddress;
NetAddress serverGameAddress;
NetAddress clientAuxAddress;
NetAddress serverAuxAddress;

namespace {

// Idle, the relay wakes at most once a second: the wait ends by itself only
// for what cannot be waited on, a terminal handed back to the relay without
// a signal. (A Windows pipe on standard input, which cannot be waited on
// either, the platform looks at more often.)
constexpr std::uint32_t kIdleWaitMs = 1000;

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

bool RelayPass(UdpEndpoint& gameEndpoint, UdpEndpoint& auxEndpoint, TrafficCapture* capture) {
  bool carried = false;
  if (auto datagram = gameEndpoint.Receive();
      datagram && !FromThisRelay(*datagram, gameEndpoint, auxEndpoint)) {
    const std::uint64_t takenAt = TimeTaken(capture);
    PrepareWorkCopy(*datagram);
    const Direction direction =
        Forward(*datagram, gameEndpoint, clientGameAddress, serverGameAddress);
    const InspectedDatagram inspected = InspectGameDatagram(*datagram, direction, gameEndpoint);
    if (capture != nullptr) {
      capture->RecordGame(takenAt, *datagram, gameEndpoint.Destination(), direction, inspected);
    }
    carried = true;
  }
  if (auto datagram = auxEndpoint.Receive();
      datagram && !FromThisRelay(*datagram, gameEndpoint, auxEndpoint)) {
    const std::uint64_t takenAt = TimeTaken(capture);
    const Direction direction = Forward(*datagram, auxEndpoint, clientAuxAddress, serverAuxAddress);
    if (capture != nullptr) {
      capture->RecordAuxiliary(takenAt, *datagram, auxEndpoint.Destination(), direction);
    }
    carried = true;
  }
  return carried;
}

// A pass that carried a datagram is followed at once by the next, since
// more may be queued behind it; only a pass that found both sockets empty
// waits, and then for whatever can happen: a datagram, a key, a stop. So a
// datagram is carried as soon as it arrives, the pair keeps up with the
// wire, and an idle relay sleeps.
//
// The keyboard is asked after every wait, but between busy passes only
// when the tick count has moved on: under a flood a pass takes
// microseconds, and on Windows (under wine most of all) asking the console
// costs more than the pass itself. A key is still seen within a tick.
//
// A capture FIFO's reader that leaves wakes the wait, and is let go of at
// once, so that one who opens it again gets a capture from its header.
void RelayLoop(UdpEndpoint& gameEndpoint, UdpEndpoint& auxEndpoint, TrafficCapture* capture,
               const LoopOptions& options) {
  bool askKeyboard = options.keyboard;
  std::uint32_t keyboardAskedAt = 0;
  while (!platform::StopRequested()) {
    if (askKeyboard) {
      if (platform::KeyPressed()) break;
      keyboardAskedAt = platform::TickCount();
    }
    const bool carried = RelayPass(gameEndpoint, auxEndpoint, capture);
    if (options.writeLogEachPass && packetLog.count > 0) FlushLog();
    if (carried) {
      askKeyboard = options.keyboard && platform::TickCount() != keyboardAskedAt;
    } else {
      WaitForDatagram(gameEndpoint, auxEndpoint, kIdleWaitMs);
      askKeyboard = options.keyboard;
      if (capture != nullptr) capture->NoticeReaderLeaving();
    }
    if (options.endWithCapture && (capture == nullptr || capture->Ended())) break;
  }
}

}  // namespace tessard
