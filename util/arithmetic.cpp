#include "util/arithmetic.h"

namespace tessard {

void CopyBytes(const std::uint8_t* source, std::uint8_t* destination, std::uint32_t count) {
  for (std::uint32_t i = 0; i < count; ++i) destination[i] = source[i];
}

}  // namespace tessard
