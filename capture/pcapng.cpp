#include "capture/pcapng.h"

#include <cstring>

#include "util/byte_readers.h"

namespace tessard {
namespace {

constexpr std::uint32_t kSectionHeaderType = 0x0A0D0D0A;
constexpr std::uint32_t kInterfaceDescriptionType = 0x00000001;
constexpr std::uint32_t kEnhancedPacketType = 0x00000006;
constexpr std::uint32_t kByteOrderMagic = 0x1A2B3C4D;
constexpr std::uint16_t kLinkTypeIpv4 = 228;  // raw IPv4, no link-layer header

constexpr std::uint16_t kEndOfOptions = 0;
constexpr std::uint16_t kComment = 1;
constexpr std::uint16_t kUserApplication = 4;  // section header
constexpr std::uint16_t kInterfaceName = 2;    // interface description
constexpr std::uint16_t kTimestampResolution = 9;
constexpr std::uint16_t kPacketFlags = 2;  // enhanced packet

constexpr std::uint8_t kMicroseconds = 6;  // 10^-6 s per time stamp unit
constexpr std::uint8_t kTimeToLive = 64;
constexpr std::uint8_t kProtocolUdp = 17;
constexpr std::size_t kIpv4HeaderLength = 20;
constexpr std::size_t kUdpHeaderLength = 8;
static_assert(kIpv4HeaderLength + kUdpHeaderLength == kFramingLength);

constexpr std::size_t PaddingAfter(std::size_t length) { return (4 - length % 4) % 4; }

// Builds one block at the end of a buffer the caller owns. A block opens
// with its type and total length and closes with the length again, so
// that readers can walk the file both ways; both lengths are written by
// Close, from what was built.
class BlockBuilder {
 public:
  BlockBuilder(std::vector<std::uint8_t>& out, std::uint32_t type)
      : out(out), start(out.size()) {
    Little32(type);
    Little32(0);  // the total length, once it is known
  }

  void Bytes(const void* bytes, std::size_t length) {
    const auto* first = static_cast<const std::uint8_t*>(bytes);
    out.insert(out.end(), first, first + length);
  }
  void Zeros(std::size_t count) { out.resize(out.size() + count, 0); }
  void Little16(std::uint16_t value) { PutU16(Grow(2), 0, value); }
  void Little32(std::uint32_t value) { PutU32(Grow(4), 0, value); }
  // IPv4 and UDP header fields are in network order.
  void Big16(std::uint16_t value) {
    std::uint8_t* at = Grow(2);
    at[0] = static_cast<std::uint8_t>(value >> 8);
    at[1] = static_cast<std::uint8_t>(value);
  }
  // One option: code, length, value, padding to 32 bits.
  void Option(std::uint16_t code, const void* value, std::size_t length) {
    Little16(code);
    Little16(static_cast<std::uint16_t>(length));
    Bytes(value, length);
    Zeros(PaddingAfter(length));
  }
  // Where the next byte goes, as an offset into the buffer.
  std::size_t Offset() const { return out.size(); }
  std::uint8_t* At(std::size_t offset) { return out.data() + offset; }

  // Ends the options and the block.
  void Close() {
    Little16(kEndOfOptions);
    Little16(0);
    const auto total = static_cast<std::uint32_t>(out.size() + 4 - start);
    Little32(total);
    PutU32(out.data(), static_cast<std::uint32_t>(start + 4), total);
  }

 private:
  std::uint8_t* Grow(std::size_t count) {
    out.resize(out.size() + count);
    return out.data() + out.size() - count;
  }

  std::vector<std::uint8_t>& out;
  std::size_t start;
};

void AppendSectionHeader(std::vector<std::uint8_t>& file) {
  static constexpr char kApplication[] = "Tessard";
  BlockBuilder block(file, kSectionHeaderType);
  block.Little32(kByteOrderMagic);
  block.Little16(1);  // version 1.0
  block.Little16(0);
  // Section length unknown: the file grows while the relay runs.
  block.Little32(0xFFFFFFFFu);
  block.Little32(0xFFFFFFFFu);
  block.Option(kUserApplication, kApplication, sizeof(kApplication) - 1);
  block.Close();
}

void AppendInterfaceDescription(std::vector<std::uint8_t>& file, const char* name) {
  BlockBuilder block(file, kInterfaceDescriptionType);
  block.Little16(kLinkTypeIpv4);
  block.Little16(0);  // reserved
  block.Little32(0);  // snap length: none, every datagram is kept whole
  block.Option(kInterfaceName, name, std::strlen(name));
  block.Option(kTimestampResolution, &kMicroseconds, 1);
  block.Close();
}

void WriteFraming(BlockBuilder& block, const CapturedDatagram& datagram) {
  const std::size_t ipHeader = block.Offset();
  block.Bytes("\x45\x00", 2);  // version 4, header length 5 words, no service type
  block.Big16(static_cast<std::uint16_t>(kFramingLength + datagram.length));
  block.Zeros(4);  // identification, flags and fragment offset: never fragmented
  block.Bytes(&kTimeToLive, 1);
  block.Bytes(&kProtocolUdp, 1);
  block.Zeros(2);                            // checksum, filled in below
  block.Bytes(&datagram.source.address, 4);  // network order in memory already
  block.Bytes(&datagram.destination.address, 4);
  const std::uint16_t checksum = Ipv4HeaderChecksum(block.At(ipHeader), kIpv4HeaderLength);
  block.At(ipHeader)[10] = static_cast<std::uint8_t>(checksum >> 8);
  block.At(ipHeader)[11] = static_cast<std::uint8_t>(checksum);

  block.Big16(datagram.source.port);
  block.Big16(datagram.destination.port);
  block.Big16(static_cast<std::uint16_t>(kUdpHeaderLength + datagram.length));
  block.Zeros(2);  // no UDP checksum: the payload may be a decrypted copy
}

}  // namespace

void AppendCaptureFileHeader(std::vector<std::uint8_t>& file) {
  AppendSectionHeader(file);
  AppendInterfaceDescription(file, "game");
  AppendInterfaceDescription(file, "auxiliary");
}

std::vector<std::uint8_t> CaptureFileHeader() {
  std::vector<std::uint8_t> file;
  AppendCaptureFileHeader(file);
  return file;
}

bool AppendPacketBlock(const CapturedDatagram& datagram, std::vector<std::uint8_t>& file) {
  const std::size_t commentLength = datagram.comment == nullptr ? 0 : std::strlen(datagram.comment);
  if (datagram.length > kMaxCapturedPayload || commentLength > kMaxCaptureComment) return false;

  const std::size_t capturedLength = kFramingLength + datagram.length;
  BlockBuilder block(file, kEnhancedPacketType);
  block.Little32(static_cast<std::uint32_t>(datagram.interface));
  block.Little32(static_cast<std::uint32_t>(datagram.timestampMicroseconds >> 32));
  block.Little32(static_cast<std::uint32_t>(datagram.timestampMicroseconds));
  block.Little32(static_cast<std::uint32_t>(capturedLength));  // captured
  block.Little32(static_cast<std::uint32_t>(capturedLength));  // original: nothing cut
  WriteFraming(block, datagram);
  block.Bytes(datagram.payload, datagram.length);
  block.Zeros(PaddingAfter(capturedLength));

  std::uint8_t flags[4];
  PutU32(flags, 0, static_cast<std::uint32_t>(datagram.direction));
  block.Option(kPacketFlags, flags, sizeof(flags));
  if (commentLength != 0) block.Option(kComment, datagram.comment, commentLength);
  block.Close();
  return true;
}

std::uint16_t Ipv4HeaderChecksum(const std::uint8_t* header, std::size_t length) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i + 1 < length; i += 2) {
    sum += static_cast<std::uint32_t>(header[i] << 8 | header[i + 1]);
  }
  if (length % 2 != 0) sum += static_cast<std::uint32_t>(header[length - 1] << 8);
  while (sum > 0xFFFF) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<std::uint16_t>(~sum);
}

}  // namespace tessard
