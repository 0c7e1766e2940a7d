// Symbolic names of Winsock error codes, for messages.
#pragma once

#include <cstdint>

namespace tessard {

// The symbolic name of code, such as "WSAEMSGSIZE" for 10040, or
// "Unknown error" for a code outside the table. Never null; the text is
// constant and lives as long as the program.
const char* WinsockErrorName(std::int32_t code);

// The symbolic name of every code WinsockErrorName knows and of the further
// ones that the socket calls can report (WSAEADDRINUSE, WSAEACCES, ...), for
// messages that must not say "Unknown error" about them; nullptr for any
// other code.
const char* SocketErrorName(std::int32_t code);

}  // namespace tessard
