// The linear congruential generator behind client keys.
#pragma once

#include <cstdint>

namespace tessard {

struct LcgRandom {
  std::uint32_t state = 0;

  constexpr LcgRandom() = default;
  constexpr explicit LcgRandom(std::uint32_t seed) : state(seed) {}

  // Stores value as the state, unchanged.
  void Seed(std::uint32_t value);

  // Advances the state and returns bits 10 to 24 of the new state: 0 to 32767.
  std::uint32_t Next();
};

}  // namespace tessard
