#include "relay/socket_error_text.h"

#include "util/winsock_error_names.h"

namespace tessard {

std::string DescribeSocketError(std::int32_t code) {
  const char* name = SocketErrorName(code);
  if (name == nullptr) return "socket error " + std::to_string(code);
  return std::string(name) + " (" + std::to_string(code) + ")";
}

}  // namespace tessard
