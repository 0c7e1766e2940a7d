#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <winsock2.h>

#include "testing/loopback.h"

namespace tessard::testing {

void WidenBuffers(std::int32_t socket) {
  const auto native = static_cast<SOCKET>(socket);
  const auto bytes = reinterpret_cast<const char*>(&kPeerBufferBytes);
  setsockopt(native, SOL_SOCKET, SO_RCVBUF, bytes, sizeof kPeerBufferBytes);
  setsockopt(native, SOL_SOCKET, SO_SNDBUF, bytes, sizeof kPeerBufferBytes);
}

}  // namespace tessard::testing
