// The hex dump of one packet, as it appears in the packet log.
#pragma once

#include <cstdint>

#include "log/direction.h"

namespace tessard {

// Appends the dump of length bytes under the direction's tag: rows of 16
// "%02X " cells with an ASCII column, each row headed by the tag and its
// offset, the packet closed by an empty line. Every fragment is formatted
// into scratchLine and appended as its own piece. A length of 0 or less
// gives the header and the closing only. The bytes are only read.
void DumpPacket(Direction direction, const std::uint8_t* bytes, std::int32_t length);

}  // namespace tessard
