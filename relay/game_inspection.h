// What the relay does with a game-port datagram besides carrying it.
#pragma once

#include "log/direction.h"
#include "net/datagram.h"
#include "net/udp_endpoint.h"

namespace tessard {

// Copies the datagram into the private working copy, decrypted while
// decryption is enabled. Called right after the datagram is received.
void PrepareWorkCopy(const Datagram& datagram);

// Follows the key exchange and logs the working copy. Called right after
// the datagram was forwarded through endpoint, whose destination still
// names where it went.
void InspectGameDatagram(const Datagram& datagram, Direction direction, UdpEndpoint& endpoint);

// Writes out everything logged so far. Called once, at stop.
void FinishInspection();

}  // namespace tessard
