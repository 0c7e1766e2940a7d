// Captures of game traffic as a packet tool on the network takes them
// (tcpdump, dumpcap): every datagram as it travelled, encrypted, on an
// interface that is not one of the relay's, written through the relay's
// own capture writer. What the dissector must decrypt on its own.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "capture/pcapng.h"

namespace tessard::testing {

// "10.0.0.1", 50000 as a capture endpoint.
CaptureEndpoint Endpoint(const std::string& dottedQuad, std::uint16_t port);

class WireCapture {
 public:
  WireCapture();

  // One datagram from one endpoint to another, a millisecond after the last.
  void Add(const CaptureEndpoint& from, const CaptureEndpoint& to, const std::string& bytes);

  std::size_t Count() const { return count; }
  const std::vector<std::uint8_t>& File() const { return file; }

 private:
  std::vector<std::uint8_t> file;
  std::size_t count = 0;
};

}  // namespace tessard::testing
