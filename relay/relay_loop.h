// The polling loop that carries datagrams between one game client and the
// game server, unchanged, on the game and the auxiliary port pair.
#pragma once

#include "net/net_address.h"
#include "net/udp_endpoint.h"
#include "relay/traffic_capture.h"

namespace tessard {

// The relay's peers. The client of each pair is whoever last sent to it
// from anywhere but the server's address of that pair.
extern NetAddress clientGameAddress;
extern NetAddress serverGameAddress;
extern NetAddress clientAuxAddress;
extern NetAddress serverAuxAddress;

// One pass: at most one datagram from each endpoint, forwarded, the game
// datagram handed to the inspection, and each recorded in capture unless
// it is nullptr. True when it carried a datagram.
bool RelayPass(UdpEndpoint& gameEndpoint, UdpEndpoint& auxEndpoint,
               TrafficCapture* capture = nullptr);

// How the loop ends and what it leaves behind each pass.
struct LoopOptions {
  bool keyboard = true;  // a key press ends the loop
  // No log fragment waits in memory past the pass that made it, for a
  // relay that may be ended without notice.
  bool writeLogEachPass = false;
  // The loop ends once the capture has ended (its reader left).
  bool endWithCapture = false;
};

// Passes until a key is pressed or a stop is requested. After a pass that
// took nothing it waits for a datagram on either endpoint, at most 10 ms.
void RelayLoop(UdpEndpoint& gameEndpoint, UdpEndpoint& auxEndpoint,
               TrafficCapture* capture = nullptr, const LoopOptions& options = {});

}  // namespace tessard
