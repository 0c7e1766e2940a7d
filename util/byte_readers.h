// Little-endian reads and writes at any byte offset of a buffer, aligned
// or not: the one home of the byte order of game packets and capture
// files. They check nothing: the bytes must exist.
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

// Stores value at buffer + offset as 32 bits, little-endian: GetU32 reads it back.
inline void PutU32(std::uint8_t* buffer, std::uint32_t offset, std::uint32_t value) {
  std::uint8_t* p = buffer + offset;
  p[0] = static_cast<std::uint8_t>(value);
  p[1] = static_cast<std::uint8_t>(value >> 8);
  p[2] = static_cast<std::uint8_t>(value >> 16);
  p[3] = static_cast<std::uint8_t>(value >> 24);
}

// Stores value at buffer + offset as 16 bits, little-endian: GetU16 reads it back.
inline void PutU16(std::uint8_t* buffer, std::uint32_t offset, std::uint16_t value) {
  std::uint8_t* p = buffer + offset;
  p[0] = static_cast<std::uint8_t>(value);
  p[1] = static_cast<std::uint8_t>(value >> 8);
}

}  // namespace tessard
