#include "net/net_address.h"

#include <cstddef>

#include "platform/platform.h"

namespace tessard {

static_assert(sizeof(NetAddress) == platform::kSocketAddressSize);
static_assert(offsetof(NetAddress, port) == 2 && offsetof(NetAddress, address) == 4 &&
              offsetof(NetAddress, zeroTail) == 8);

NetAddress::NetAddress(std::uint32_t networkAddress, std::uint16_t hostPort) {
  Set(networkAddress, hostPort);
}

void NetAddress::Set(std::uint32_t networkAddress, std::uint16_t hostPort) {
  address = networkAddress;
  port = platform::HostToNetwork16(hostPort);
}

void NetAddress::Assign(const NetAddress& other) {
  address = other.address;
  port = other.port;
}

bool NetAddress::Equals(const NetAddress& other) const {
  return address == other.address && port == other.port;
}

const char* NetAddress::FormatAddress() const { return platform::FormatDottedQuad(address); }

std::uint16_t NetAddress::HostPort() const { return platform::NetworkToHost16(port); }

}  // namespace tessard
