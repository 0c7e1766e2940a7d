// Helpers for tests that talk UDP over loopback.
#pragma once

#include <cstdint>
#include <memory>

#include "net/datagram.h"
#include "net/udp_endpoint.h"

namespace tessard::testing {

// Keeps the socket library started while it lives. Winsock refuses every
// socket call before WSAStartup; nested starts are counted, so tests may
// hold several.
class SocketLibraryScope {
 public:
  SocketLibraryScope();
  ~SocketLibraryScope();
  SocketLibraryScope(const SocketLibraryScope&) = delete;
  SocketLibraryScope& operator=(const SocketLibraryScope&) = delete;
};

// 127.0.0.1 in network order.
std::uint32_t LoopbackAddress();

// The next datagram that endpoint receives within timeoutMs, or none.
std::unique_ptr<Datagram> ReceiveWithin(UdpEndpoint& endpoint, std::uint32_t timeoutMs);

// The fake peers' socket buffers, as the benchmark's: a test that is a
// moment late in draining, on a machine busy with other tests, must not
// drop what the relay carried.
constexpr int kPeerBufferBytes = 4 << 20;
// Opens endpoint on port with buffers of kPeerBufferBytes (or as much of
// that as the system allows); false when it could not be bound.
bool OpenWide(UdpEndpoint& endpoint, std::uint16_t port);

// How many datagrams of up to kMaxDatagramSize bytes a socket opened as the
// relay opens its own can hold here, by the receive buffer the system gave
// it (Linux caps it at net.core.rmem_max). The fake peers' wider request
// meets the same cap, so a test that has the relay or a peer hold a burst
// sizes the burst to this.
int DatagramsASocketHolds();

// A port P, below 65535, such that P and P + 1 were both free a moment ago
// (another program may take them before the caller binds them).
std::uint16_t FindFreePortPair();

// Opens endpoints first and first + 1, wide, on a free pair of ports and
// returns the first port.
std::uint16_t OpenPortPair(UdpEndpoint& first, UdpEndpoint& second);

}  // namespace tessard::testing
