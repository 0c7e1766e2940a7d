// Socket errors as the relay's messages show them.
#pragma once

#include <cstdint>
#include <string>

namespace tessard {

// "WSAEADDRINUSE (10048)" for a code with a known name, "socket error N"
// for any other.
std::string DescribeSocketError(std::int32_t code);

}  // namespace tessard
