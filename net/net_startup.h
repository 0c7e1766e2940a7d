// Starting and stopping the socket library, once per process.
#pragma once

namespace tessard {

// Asks for Winsock 2.2; the platform's result (0 on success).
int NetStartup();
int NetCleanup();

}  // namespace tessard
