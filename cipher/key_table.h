// The 520-byte key table that a session key determines.
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

namespace tessard {

struct KeyTable {
  static constexpr std::uint32_t kEntryCount = 260;
  static constexpr std::uint32_t kWordCount = kEntryCount / 2;

  std::array<std::uint16_t, kEntryCount> entries{};

  // Word i, 0 to 129, of the table read as 32-bit words: entry 2i in the
  // low half and entry 2i + 1 in the high half.
  std::uint32_t Word(std::uint32_t i) const {
    if constexpr (std::endian::native == std::endian::little) {
      // Two adjacent entries in memory are already that word.
      std::uint32_t word;
      std::memcpy(&word, &entries[2 * i], sizeof word);
      return word;
    } else {
      return entries[2 * i] | (static_cast<std::uint32_t>(entries[2 * i + 1]) << 16);
    }
  }
};

}  // namespace tessard
