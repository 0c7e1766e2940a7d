// Symbolic names of Winsock error codes, for messages.
#pragma once

#include <cstdint>

namespace tessard {

// The symbolic name of code, such as "WSAEMSGSIZE" for 10040, or
// "Unknown error" for a code outside the table. Never null; the text is
// constant and lives as long as the program.
const char* WinsockErrorName(std::int32_t code);

}  // namespace tessard
