// Small integer helpers of the protocol utility library.
#pragma once

#include <cstdint>

namespace tessard {

// Copies count bytes from source to destination, one at a time, in
// ascending order. Note the order of the arguments: source first. The
// ranges must not overlap.
void CopyBytes(const std::uint8_t* source, std::uint8_t* destination, std::uint32_t count);

}  // namespace tessard
