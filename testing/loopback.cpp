#include "testing/loopback.h"

#include "net/net_startup.h"
#include "platform/platform.h"

namespace tessard::testing {

SocketLibraryScope::SocketLibraryScope() { NetStartup(); }

SocketLibraryScope::~SocketLibraryScope() { NetCleanup(); }

std::uint32_t LoopbackAddress() { return platform::ParseDottedQuad("127.0.0.1"); }

std::unique_ptr<Datagram> ReceiveWithin(UdpEndpoint& endpoint, std::uint32_t timeoutMs) {
  const std::uint32_t start = platform::TickCount();
  for (;;) {
    if (auto datagram = endpoint.Receive()) return datagram;
    if (platform::TickCount() - start >= timeoutMs) return nullptr;
    platform::SleepAlertable(1);
  }
}

bool OpenWide(UdpEndpoint& endpoint, std::uint16_t port) {
  const auto socket = static_cast<platform::SocketHandle>(endpoint.Open(port));
  if (!endpoint.IsBound()) return false;
  platform::WidenSocketBuffers(socket, kPeerBufferBytes);
  return true;
}

int DatagramsASocketHolds() {
  // What a full-sized datagram costs a receive buffer at most, its
  // bookkeeping included (Linux counts about 1.3 KB for 520 bytes).
  constexpr int kCostOfOneDatagram = 2048;
  UdpEndpoint endpoint;
  endpoint.Open(0);
  return endpoint.ReceiveBufferBytes() / kCostOfOneDatagram;
}

std::uint16_t OpenPortPair(UdpEndpoint& first, UdpEndpoint& second) {
  for (int attempt = 0; attempt < 200; ++attempt) {
    OpenWide(first, 0);
    const std::uint16_t port = first.LocalPort();
    if (port != 0 && port != 65535 && OpenWide(second, static_cast<std::uint16_t>(port + 1))) {
      return port;
    }
    first.Close();
    second.Close();
  }
  return 0;
}

std::uint16_t FindFreePortPair() {
  UdpEndpoint first;
  UdpEndpoint second;
  return OpenPortPair(first, second);
}

}  // namespace tessard::testing
