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

// A game datagram between its forwarding and its log: its working copy,
// which way it went and to whom, and what the inspection found.
struct GameInFlight {
  const DatagramBatch::Entry* taken;
  NetAddress destination;
  Direction direction;
  GameEvent event;
  std::int32_t length;
  std::uint8_t copy[kMaxDatagramSize];
};

// One wake-up's datagrams. Static: together they are some hundred
// kilobytes, and the relay has one loop.
struct WakeUpWork {
  DatagramBatch game;
  DatagramBatch aux;
  GameInFlight games[DatagramBatch::kCapacity];
  int gameCount = 0;
  const DatagramBatch::Entry* auxTaken[DatagramBatch::kCapacity];
  NetAddress auxDestinations[DatagramBatch::kCapacity];
  Direction auxDirections[DatagramBatch::kCapacity];
  int auxCount = 0;
  std::uint64_t takenAt = 0;
};

WakeUpWork work;

// Queues the datagram to the other side of its pair and tells which way it
// goes. A datagram not from the server makes its sender the client.
Direction Forward(const DatagramBatch::Entry& datagram, UdpEndpoint& endpoint, NetAddress& client,
                  const NetAddress& server) {
  Direction direction = Direction::kServerToClient;
  if (datagram.source.Equals(server)) {
    endpoint.SetDestination(client);
  } else {
    client.Assign(datagram.source);
    endpoint.SetDestination(server);
    direction = Direction::kClientToServer;
  }
  endpoint.Queue(datagram.bytes, datagram.length);  // a failed send is not retried
  return direction;
}

// A datagram from one of the relay's own ports on this machine is one the
// relay sent itself (a server address that points back at it) or a forgery:
// carried, it would make the relay its own client and loop with the server.
bool FromThisRelay(const NetAddress& source, const UdpEndpoint& gameEndpoint,
                   const UdpEndpoint& auxEndpoint) {
  const std::uint16_t port = source.HostPort();
  return port != 0 && (port == gameEndpoint.LocalPort() || port == auxEndpoint.LocalPort()) &&
         platform::IsLocalAddress(source.address);
}

// Takes what the game socket holds, follows each datagram through the key
// exchange in the order taken, and sends them all on. The log waits.
void CarryGame(UdpEndpoint& gameEndpoint, const UdpEndpoint& auxEndpoint) {
  if (gameEndpoint.ReceiveBatch(work.game) == 0) return;
  for (int i = 0; i < work.game.count; ++i) {
    const DatagramBatch::Entry& taken = work.game.entries[i];
    if (FromThisRelay(taken.source, gameEndpoint, auxEndpoint)) continue;
    GameInFlight& game = work.games[work.gameCount++];
    game.taken = &taken;
    game.length = CopyForInspection(taken.bytes, taken.length, game.copy);
    game.direction = Forward(taken, gameEndpoint, clientGameAddress, serverGameAddress);
    const GameVerdict verdict = FollowGameDatagram(game.copy, game.length, game.direction);
    // A disconnect goes twice, right behind itself, to where it just went.
    if (verdict.repeat) gameEndpoint.Queue(taken.bytes, taken.length);
    game.event = verdict.event;
    game.destination = gameEndpoint.Destination();
  }
  gameEndpoint.SendQueued();
}

void CarryAuxiliary(const UdpEndpoint& gameEndpoint, UdpEndpoint& auxEndpoint) {
  if (auxEndpoint.ReceiveBatch(work.aux) == 0) return;
  for (int i = 0; i < work.aux.count; ++i) {
    const DatagramBatch::Entry& taken = work.aux.entries[i];
    if (FromThisRelay(taken.source, gameEndpoint, auxEndpoint)) continue;
    const int at = work.auxCount++;
    work.auxTaken[at] = &taken;
    work.auxDirections[at] = Forward(taken, auxEndpoint, clientAuxAddress, serverAuxAddress);
    work.auxDestinations[at] = auxEndpoint.Destination();
  }
  auxEndpoint.SendQueued();
}

// The log and the capture of what this wake-up carried, in the order it
// was taken.
void Record(TrafficCapture* capture) {
  if (capture != nullptr) capture->Hold();
  for (int i = 0; i < work.gameCount; ++i) {
    const GameInFlight& game = work.games[i];
    const InspectedDatagram inspected =
        LogGameDatagram(game.taken->source, game.direction, game.copy, game.length, game.event);
    if (capture != nullptr) {
      capture->RecordGame(work.takenAt, game.taken->source, game.destination, game.direction,
                          inspected);
    }
  }
  if (capture == nullptr) return;
  for (int i = 0; i < work.auxCount; ++i) {
    const DatagramBatch::Entry& taken = *work.auxTaken[i];
    capture->RecordAuxiliary(work.takenAt, taken.source, taken.bytes, taken.length,
                             work.auxDestinations[i], work.auxDirections[i]);
  }
  capture->Release();
}

}  // namespace

// Each wake-up takes what the wait found ready, up to a batch a socket, and
// forwards all of it before logging any: no datagram waits on its way
// through for the log of the ones taken before it. Under a
// flood the wait answers at once, so a wake-up costs one wait, one receive
// and one send a socket for up to a batch of datagrams; idle, it sleeps.
// The keyboard is asked only when the wait says so, and a stop is seen at
// the next wake-up, at most two batches later.
//
// A capture FIFO's reader that leaves wakes the wait, and is let go of at
// once, so that one who opens it again gets a capture from its header; the
// reader is looked at only after a wake-up that carried nothing, so a busy
// relay pays nothing for it.
void RelayLoop(UdpEndpoint& gameEndpoint, UdpEndpoint& auxEndpoint, TrafficCapture* capture,
               const LoopOptions& options) {
  while (!platform::StopRequested()) {
    const Wakeup wakeup = WaitForDatagram(gameEndpoint, auxEndpoint, kIdleWaitMs);
    if (options.keyboard && wakeup.keyboard && platform::KeyPressed()) break;
    // The capture stamps a wake-up's datagrams with the moment they were
    // taken; the clock is read only when there is a capture.
    if (capture != nullptr) work.takenAt = platform::WallClockMicroseconds();
    work.gameCount = 0;
    work.auxCount = 0;
    if (wakeup.first) CarryGame(gameEndpoint, auxEndpoint);
    if (wakeup.second) CarryAuxiliary(gameEndpoint, auxEndpoint);
    Record(capture);
    if (options.writeLogEachPass && packetLog.count > 0) FlushLog();
    if (capture != nullptr && work.gameCount == 0 && work.auxCount == 0) {
      capture->NoticeReaderLeaving();
    }
    if (options.endWithCapture && (capture == nullptr || capture->Ended())) break;
  }
}

}  // namespace tessard
