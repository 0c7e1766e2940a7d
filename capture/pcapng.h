// The bytes of a pcapng capture of relayed UDP datagrams: the file's
// header (one section, two IPv4 interfaces) and one enhanced packet block
// per datagram, framed in IPv4 and UDP headers so that packet tools show
// the true endpoints. Little-endian and built byte by byte, so the same
// traffic gives the same file on every platform.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tessard {

// The file's interfaces, numbered in the order their description blocks
// are written.
enum class CaptureInterface : std::uint32_t { kGame = 0, kAuxiliary = 1 };

// The direction as the client sees it; the values are those of the packet
// block's flags.
enum class CaptureDirection : std::uint32_t { kInbound = 1, kOutbound = 2 };

// An IPv4 endpoint: the address in network order, as sockets hold it, and
// the port in host order.
struct CaptureEndpoint {
  std::uint32_t address = 0;
  std::uint16_t port = 0;
};

struct CapturedDatagram {
  CaptureInterface interface = CaptureInterface::kGame;
  std::uint64_t timestampMicroseconds = 0;  // since 1970-01-01 00:00:00 UTC
  CaptureEndpoint source;
  CaptureEndpoint destination;
  CaptureDirection direction = CaptureDirection::kOutbound;
  const std::uint8_t* payload = nullptr;
  std::size_t length = 0;
  const char* comment = nullptr;  // no comment when null or empty
};

// IPv4 and UDP headers in front of every payload.
constexpr std::size_t kFramingLength = 28;
// The longest payload whose IPv4 total length still fits in 16 bits.
constexpr std::size_t kMaxCapturedPayload = 65535 - kFramingLength;
// An option's length field is 16 bits wide.
constexpr std::size_t kMaxCaptureComment = 65535;

// Appends the section header and the two interface descriptions ("game",
// "auxiliary") to file: the bytes every capture file starts with.
void AppendCaptureFileHeader(std::vector<std::uint8_t>& file);
// The same bytes on their own.
std::vector<std::uint8_t> CaptureFileHeader();

// Appends the datagram's packet block to file. False, with nothing
// appended, when the payload or the comment is too long for a block.
bool AppendPacketBlock(const CapturedDatagram& datagram, std::vector<std::uint8_t>& file);

// The IPv4 header checksum of header (its checksum field included as it
// stands): the one's complement of the one's complement sum of its 16-bit
// words. A header that carries its correct checksum sums to 0.
std::uint16_t Ipv4HeaderChecksum(const std::uint8_t* header, std::size_t length);

}  // namespace tessard
