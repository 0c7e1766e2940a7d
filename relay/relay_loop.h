// The polling loop that carries datagrams between one game client and the
// game server, unchanged, on the game and the auxiliary port pair.
#pragma once

#include "net/net_address.h"
#include "net/udp_endpoint.h"

namespace tessard {

// The relay's peers. The client of each pair is whoever last sent to it
// from anywhere but the server's address of that pair.
extern NetAddress clientGameAddress;
extern NetAddress serverGameAddress;
extern NetAddress clientAuxAddress;
extern NetAddress serverAuxAddress;

// One pass: at most one datagram from each endpoint, forwarded, and the
// game datagram handed to the inspection.
void RelayPass(UdpEndpoint& gameEndpoint, UdpEndpoint& auxEndpoint);

// Passes with a 10 ms pause after each, until a key is pressed or a stop
// is requested.
void RelayLoop(UdpEndpoint& gameEndpoint, UdpEndpoint& auxEndpoint);

}  // namespace tessard
