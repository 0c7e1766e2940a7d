// An IPv4 address and port in the platform's 16-byte socket-address
// layout, so that the record itself is handed to the socket calls.
#pragma once

#include <cstdint>

namespace tessard {

constexpr std::uint16_t kAddressFamilyInet = 2;  // AF_INET

struct NetAddress {
  std::uint16_t family = kAddressFamilyInet;  // host order
  std::uint16_t port = 0;                     // network order
  std::uint32_t address = 0;                  // network order
  std::uint8_t zeroTail[8] = {};

  // Cleared: family 2, port 0, address 0.0.0.0.
  constexpr NetAddress() = default;
  // address in network order, port in host order.
  NetAddress(std::uint32_t networkAddress, std::uint16_t hostPort);

  // Writes address and port (port given in host order); family and tail stay.
  void Set(std::uint32_t networkAddress, std::uint16_t hostPort);
  // Copies the other's port and address; family and tail stay.
  void Assign(const NetAddress& other);
  // Same address and same port; family and tail take no part.
  bool Equals(const NetAddress& other) const;
  // Dotted-quad text in the socket library's buffer: use it at once.
  const char* FormatAddress() const;
  std::uint16_t HostPort() const;
};

static_assert(sizeof(NetAddress) == 16, "NetAddress must have the sockaddr_in layout");

}  // namespace tessard
