#include "capture/pcapng.h"

#include <cstring>

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

// Appends at a cursor into memory the caller has sized beforehand.
class BlockBuilder {
 public:
  explicit BlockBuilder(std::uint8_t* start) : start(start), at(start) {}

  void Bytes(const void* bytes, std::size_t length) {
    if (length != 0) std::memcpy(at, bytes, length);
    at += length;
  }
  void Zeros(std::size_t count) {
    std::memset(at, 0, count);
    at += count;
  }
  void Little16(std::uint16_t value) {
    *at++ = static_cast<std::uint8_t>(value);
    *at++ = static_cast<std::uint8_t>(value >> 8);
  }
  void Little32(std::uint32_t value) {
    Little16(static_cast<std::uint16_t>(value));
    Little16(static_cast<std::uint16_t>(value >> 16));
  }
  void Big16(std::uint16_t value) {
    *at++ = static_cast<std::uint8_t>(value >> 8);
    *at++ = static_cast<std::uint8_t>(value);
  }
  // One option: code, length, value, padding to 32 bits.
  void Option(std::uint16_t code, const void* value, std::size_t length) {
    Little16(code);
    Little16(static_cast<std::uint16_t>(length));
    Bytes(value, length);
    Zeros(PaddingAfter(length));
  }
  std::uint8_t* Here() const { return at; }
  std::size_t Written() const { return static_cast<std::size_t>(at - start); }

 private:
  std::uint8_t* start;
  std::uint8_t* at;
};

// Blocks open with their type and total length and close with the length
// again, so that readers can walk the file both ways.
void OpenBlock(BlockBuilder& block, std::uint32_t type, std::size_t totalLength) {
  block.Little32(type);
  block.Little32(static_cast<std::uint32_t>(totalLength));
}

void CloseBlock(BlockBuilder& block) {
  block.Little16(kEndOfOptions);
  block.Little16(0);
  block.Little32(static_cast<std::uint32_t>(block.Written() + 4));
}

void AppendSectionHeader(std::vector<std::uint8_t>& file) {
  static constexpr char kApplication[] = "Tessard";
  const std::size_t applicationLength = sizeof(kApplication) - 1;
  const std::size_t size = 24 + 4 + applicationLength + PaddingAfter(applicationLength) + 4 + 4;
  const std::size_t offset = file.size();
  file.resize(offset + size);
  BlockBuilder block(file.data() + offset);
  OpenBlock(block, kSectionHeaderType, size);
  block.Little32(kByteOrderMagic);
  block.Little16(1);  // version 1.0
  block.Little16(0);
  // Section length unknown: the file grows while the relay runs.
  block.Little32(0xFFFFFFFFu);
  block.Little32(0xFFFFFFFFu);
  block.Option(kUserApplication, kApplication, applicationLength);
  CloseBlock(block);
}

void AppendInterfaceDescription(std::vector<std::uint8_t>& file, const char* name) {
  const std::size_t nameLength = std::strlen(name);
  const std::size_t size = 16 + 4 + nameLength + PaddingAfter(nameLength) + 8 + 4 + 4;
  const std::size_t offset = file.size();
  file.resize(offset + size);
  BlockBuilder block(file.data() + offset);
  OpenBlock(block, kInterfaceDescriptionType, size);
  block.Little16(kLinkTypeIpv4);
  block.Little16(0);  // reserved
  block.Little32(0);  // snap length: none, every datagram is kept whole
  block.Option(kInterfaceName, name, nameLength);
  block.Option(kTimestampResolution, &kMicroseconds, 1);
  CloseBlock(block);
}

void WriteFraming(BlockBuilder& block, const CapturedDatagram& datagram) {
  std::uint8_t* const ipHeader = block.Here();
  block.Bytes("\x45\x00", 2);  // version 4, header length 5 words, no service type
  block.Big16(static_cast<std::uint16_t>(kFramingLength + datagram.length));
  block.Zeros(4);  // identification, flags and fragment offset: never fragmented
  block.Bytes(&kTimeToLive, 1);
  block.Bytes(&kProtocolUdp, 1);
  block.Zeros(2);                            // checksum, filled in below
  block.Bytes(&datagram.source.address, 4);  // network order in memory already
  block.Bytes(&datagram.destination.address, 4);
  const std::uint16_t checksum = Ipv4HeaderChecksum(ipHeader, kIpv4HeaderLength);
  ipHeader[10] = static_cast<std::uint8_t>(checksum >> 8);
  ipHeader[11] = static_cast<std::uint8_t>(checksum);

  block.Big16(datagram.source.port);
  block.Big16(datagram.destination.port);
  block.Big16(static_cast<std::uint16_t>(kUdpHeaderLength + datagram.length));
  block.Zeros(2);  // no UDP checksum: the payload may be a decrypted copy
}

}  // namespace

std::vector<std::uint8_t> CaptureFileHeader() {
  std::vector<std::uint8_t> file;
  AppendSectionHeader(file);
  AppendInterfaceDescription(file, "game");
  AppendInterfaceDescription(file, "auxiliary");
  return file;
}

std::size_t WritePacketBlock(const CapturedDatagram& datagram, std::uint8_t* out,
                             std::size_t capacity) {
  const std::size_t commentLength = datagram.comment == nullptr ? 0 : std::strlen(datagram.comment);
  if (datagram.length > kMaxCapturedPayload || commentLength > kMaxCaptureComment) return 0;
  const std::size_t size = PacketBlockSize(datagram.length, commentLength);
  if (size > capacity) return 0;

  const std::size_t capturedLength = kFramingLength + datagram.length;
  BlockBuilder block(out);
  OpenBlock(block, kEnhancedPacketType, size);
  block.Little32(static_cast<std::uint32_t>(datagram.interface));
  block.Little32(static_cast<std::uint32_t>(datagram.timestampMicroseconds >> 32));
  block.Little32(static_cast<std::uint32_t>(datagram.timestampMicroseconds));
  block.Little32(static_cast<std::uint32_t>(capturedLength));  // captured
  block.Little32(static_cast<std::uint32_t>(capturedLength));  // original: nothing cut
  WriteFraming(block, datagram);
  block.Bytes(datagram.payload, datagram.length);
  block.Zeros(PaddingAfter(capturedLength));

  std::uint8_t flags[4];
  BlockBuilder(flags).Little32(static_cast<std::uint32_t>(datagram.direction));
  block.Option(kPacketFlags, flags, sizeof(flags));
  if (commentLength != 0) block.Option(kComment, datagram.comment, commentLength);
  CloseBlock(block);
  return size;
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
