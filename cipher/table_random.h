// The Park-Miller style generator (multiplier 16807 modulo 2^31 - 1, plus
// 123 on every step) that fills the key table.
#pragma once

#include <cstdint>

namespace tessard {

struct TableRandom {
  std::uint32_t state = 0;

  constexpr TableRandom() = default;
  constexpr explicit TableRandom(std::uint32_t seed) : state(seed) {}

  // Stores value as the state, unchanged; any 32-bit value is accepted.
  void Seed(std::uint32_t value);

  // Advances the state and returns its low 16 bits. The quotient by 127773
  // is formed by a 64-bit multiply and arithmetic shift, which differs from
  // true division for states with the top bit set; the new state is always
  // below 2^31. This is the draw that fills the key table.
  std::uint16_t Next();

  // The same step with the quotient taken as the state read as signed,
  // divided by 127773 truncating toward zero. Equal to Next() for states
  // below 2^31; from some states with the top bit set it reaches 0xFFFFFFFF.
  std::uint16_t NextSigned();
};

}  // namespace tessard
