#include "testing/wire_capture.h"

#include <algorithm>

#include "platform/platform.h"

namespace tessard::testing {
namespace {

// 2026-01-01 00:00:00 UTC: any fixed start serves.
constexpr std::uint64_t kStartMicroseconds = 1767225600ull * 1000000;

}  // namespace

CaptureEndpoint Endpoint(const std::string& dottedQuad, std::uint16_t port) {
  return {platform::ParseDottedQuad(dottedQuad.c_str()), port};
}

WireCapture::WireCapture() : file(CaptureFileHeader()) {
  // The writer names its first interface "game", which marks the relay's
  // own capture of payloads it has already decrypted. A network capture
  // names its interface after the network device.
  static constexpr char kRelays[] = "game";
  const auto name = std::search(file.begin(), file.end(), kRelays, kRelays + 4);
  std::copy_n("eth0", 4, name);
}

void WireCapture::Add(const CaptureEndpoint& from, const CaptureEndpoint& to,
                      const std::string& bytes) {
  CapturedDatagram datagram;
  datagram.timestampMicroseconds = kStartMicroseconds + 1000 * count++;
  // A packet tool on the network records no direction (flags 0).
  datagram.direction = static_cast<CaptureDirection>(0);
  datagram.source = from;
  datagram.destination = to;
  datagram.payload = reinterpret_cast<const std::uint8_t*>(bytes.data());
  datagram.length = bytes.size();
  AppendPacketBlock(datagram, file);
}

}  // namespace tessard::testing
