#include "net/datagram.h"

#include <cstring>
#include <new>

namespace tessard {

Datagram::Datagram(const NetAddress& from, const std::uint8_t* data, std::int32_t byteCount) {
  source.Assign(from);
  length = byteCount;
  if (byteCount <= 0) return;
  bytes.reset(new (std::nothrow) std::uint8_t[static_cast<std::uint32_t>(byteCount)]);
  if (!bytes) {
    length = 0;
    return;
  }
  std::memcpy(bytes.get(), data, static_cast<std::size_t>(byteCount));
}

}  // namespace tessard
