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

// How the loop ends and what it leaves behind each wake-up.
struct LoopOptions {
  bool keyboard = true;  // a key press ends the loop
  // No log fragment waits in memory past the wake-up that made it, for a
  // relay that may be ended without notice.
  bool writeLogEachPass = false;
  // The loop ends once the capture has ended (its reader left).
  bool endWithCapture = false;
};

// Until a key is pressed or a stop is requested: waits for a datagram on
// either endpoint (or a key, or a stop), takes every datagram that is
// ready, up to a batch a socket, forwards them and hands the game
// datagrams to the inspection, then logs them and records each in capture
// unless it is nullptr, in the order taken.
void RelayLoop(UdpEndpoint& gameEndpoint, UdpEndpoint& auxEndpoint,
               TrafficCapture* capture = nullptr, const LoopOptions& options = {});

}  // namespace tessard
