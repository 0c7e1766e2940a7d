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

// The private copy of the current game datagram: decrypted, inspected and
// dumped, never sent. A datagram overwrites only as many bytes as it has.
struct WorkCopy {
  std::uint8_t bytes[kMaxDatagramSize];
  std::int32_t length;
};

// The process-wide inspection state.
extern bool decryptionEnabled;
extern SessionCipher sessionCipher;
extern WorkCopy workCopy;

// Copies the datagram into the working copy and decrypts it there while
// decryption is enabled. Called right after the datagram is received.
void PrepareWorkCopy(const Datagram& datagram);

// Follows the key exchange and logs the working copy. Called right after
// the datagram was forwarded through endpoint, whose destination still
// names where it went; a disconnect is sent there a second time. Returns
// the event the datagram brought about, in the words of its log line
// without the tag and the line end ("SubSpace decryption enabled."), or
// nullptr when there was none; the text lasts until the next call.
const char* InspectGameDatagram(const Datagram& datagram, Direction direction,
                                UdpEndpoint& endpoint);

// Writes out everything logged so far. Called once, at stop.
void FinishInspection();

}  // namespace tessard
