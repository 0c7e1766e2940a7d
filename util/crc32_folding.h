// The processor-dependent path of Crc32: folding long inputs by carry-less
// multiplication. Internal to the library; not installed.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tessard {

// Folds length bytes of data (a multiple of 16, at least 64), read by a
// standard CRC-32 register that starts at crc, into 16 bytes that give the
// same register when read from 0.
using CrcFold = void (*)(std::uint32_t crc, const std::uint8_t* data, std::size_t length,
                         std::uint8_t* folded);

// The fastest fold this processor runs with product registers of at most
// widestBlock bytes (PCLMULQDQ on x86-64, 16 bytes, and VPCLMULQDQ, 32),
// or nullptr where it has none. Asks the processor each time; Crc32 asks
// once.
CrcFold PickCrcFold(std::size_t widestBlock = 32);

}  // namespace tessard
