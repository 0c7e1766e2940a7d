#include "cipher/lcg_random.h"

namespace tessard {

void LcgRandom::Seed(std::uint32_t value) { state = value; }

std::uint32_t LcgRandom::Next() {
  state = state * 214013u + 2531011u;
  // Bits 10 and up, not the usual 16: the key exchange depends on this.
  return (state >> 10) & 0x7FFFu;
}

}  // namespace tessard
