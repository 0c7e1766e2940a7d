#include <sys/socket.h>

#include "testing/loopback.h"

namespace tessard::testing {

void WidenBuffers(std::int32_t socket) {
  setsockopt(socket, SOL_SOCKET, SO_RCVBUF, &kPeerBufferBytes, sizeof kPeerBufferBytes);
  setsockopt(socket, SOL_SOCKET, SO_SNDBUF, &kPeerBufferBytes, sizeof kPeerBufferBytes);
}

}  // namespace tessard::testing
