// What the relay does with a game-port datagram besides carrying it: a
// private working copy, decrypted while decryption is enabled, the key
// exchange followed into the one session cipher, disconnects repeated,
// and every datagram dumped into the packet log.
#pragma once

#include <cstdint>

#include "cipher/session_cipher.h"
#include "log/direction.h"
#include "net/datagram.h"
#include "net/udp_endpoint.h"

namespace tessard {

// The process-wide inspection state. The working copy of the current
// datagram, decrypted, inspected and dumped but never sent, is the
// inspection's own: others see it through what InspectGameDatagram returns.
extern bool decryptionEnabled;
// Whether a key request has come since the last key response was taken:
// the next key response sets up new keys even while decryption is on.
extern bool keyRequested;
extern SessionCipher sessionCipher;

// What the inspection made of a game datagram: its payload as the dump
// shows it (decrypted while decryption was enabled), valid until the next
// datagram is prepared, and the event it brought about, in the words of
// its log line without the tag and the line end ("SubSpace decryption
// enabled."), or nullptr when there was none, valid until the next
// inspection.
struct InspectedDatagram {
  const std::uint8_t* payload;
  std::int32_t length;
  const char* event;
};

// The inspection in its two halves, so that the relay can forward a whole
// batch of datagrams before it logs any of them: first each is followed in
// the order taken, then each is logged in the same order.
enum class GameEvent { kNone, kConnection, kDecryptionEnabled };
struct GameVerdict {
  GameEvent event;
  bool repeat;  // a disconnect: sent a second time, where it just went
};
// Copies up to kMaxDatagramSize bytes into copy; the count copied.
std::int32_t CopyForInspection(const std::uint8_t* bytes, std::int32_t length, std::uint8_t* copy);
// Decrypts the working copy while decryption is enabled (but for a key
// request and the key response that answers it, which travel in the
// clear) and follows the key exchange.
GameVerdict FollowGameDatagram(std::uint8_t* copy, std::int32_t length, Direction direction);
// Logs the event that FollowGameDatagram found and the working copy.
InspectedDatagram LogGameDatagram(const NetAddress& source, Direction direction,
                                  const std::uint8_t* copy, std::int32_t length, GameEvent event);

// Copies the datagram into the working copy. Called right after the
// datagram is received.
void PrepareWorkCopy(const Datagram& datagram);

// Decrypts the working copy while decryption is enabled (but for a key
// request and the key response that answers it, which travel in the
// clear), follows the key exchange and logs the working copy. Called right
// after the datagram was forwarded through endpoint, whose destination
// still names where it went; a disconnect is sent there a second time.
InspectedDatagram InspectGameDatagram(const Datagram& datagram, Direction direction,
                                      UdpEndpoint& endpoint);

// Writes out everything logged so far. Called once, at stop.
void FinishInspection();

}  // namespace tessard
