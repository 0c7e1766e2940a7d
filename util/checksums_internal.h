// What checksums.cpp shows its own tests beyond the public header: Crc32
// with its folding path chosen by the caller, so that every path can be
// held against the byte-wise loop on one machine. Not installed.
#pragma once

#include <cstdint>

#include "util/checksums.h"
#include "util/crc32_folding.h"

namespace tessard {

// Crc32 with the given fold for the tables BuildCrcTable makes; nullptr
// leaves them to the portable slicing path. Crc32 passes PickCrcFold().
std::uint32_t Crc32WithFold(CrcFold fold, const std::uint8_t* data, const CrcTable& table,
                            std::uint32_t length);

}  // namespace tessard
