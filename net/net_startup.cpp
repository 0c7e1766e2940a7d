#include "net/net_startup.h"

#include "platform/platform.h"

namespace tessard {

int NetStartup() { return platform::SocketStartup(); }

int NetCleanup() { return platform::SocketCleanup(); }

}  // namespace tessard
