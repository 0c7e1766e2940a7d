// One received datagram: its sender and an owned copy of its bytes.
#pragma once

#include <cstdint>
#include <memory>

#include "net/net_address.h"

namespace tessard {

struct Datagram {
  NetAddress source;
  std::unique_ptr<std::uint8_t[]> bytes;  // exactly length bytes, or none
  std::int32_t length = 0;

  // Copies length bytes when length is positive, and holds none otherwise.
  // If the copy cannot be allocated, the datagram holds none and its
  // length is 0.
  Datagram(const NetAddress& from, const std::uint8_t* data, std::int32_t byteCount);

  Datagram(const Datagram&) = delete;
  Datagram& operator=(const Datagram&) = delete;
};

}  // namespace tessard
