// Little-endian reads at any byte offset of a buffer, aligned or not. They
// check nothing: the bytes must exist.
#pragma once

#include <cstdint>

namespace tessard {

// The 32-bit little-endian value at buffer + offset.
inline std::uint32_t GetU32(const std::uint8_t* buffer, std::uint32_t offset) {
  const std::uint8_t* p = buffer + offset;
  return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
         static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

// The 16-bit little-endian value at buffer + offset.
inline std::uint16_t GetU16(const std::uint8_t* buffer, std::uint32_t offset) {
  const std::uint8_t* p = buffer + offset;
  return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

// The byte at buffer + offset.
inline std::uint8_t GetU8(const std::uint8_t* buffer, std::uint32_t offset) {
  return buffer[offset];
}

}  // namespace tessard
