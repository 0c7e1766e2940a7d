// Independent of capture/ on purpose (see capture_records.h): every
// number below is taken from the pcapng and IPv4/UDP formats themselves.
#include "testing/capture_records.h"

namespace tessard::testing {
namespace {

constexpr std::uint32_t kSectionHeader = 0x0A0D0D0A;
constexpr std::uint32_t kInterfaceDescription = 1;
constexpr std::uint32_t kEnhancedPacket = 6;

class Reader {
 public:
  explicit Reader(const std::string& bytes) : bytes(bytes) {}

  bool Has(std::size_t offset, std::size_t length) const {
    return offset <= bytes.size() && length <= bytes.size() - offset;
  }
  std::uint32_t U8(std::size_t offset) const { return static_cast<std::uint8_t>(bytes[offset]); }
  std::uint32_t Little16(std::size_t offset) const { return U8(offset) | U8(offset + 1) << 8; }
  std::uint32_t Little32(std::size_t offset) const {
    return Little16(offset) | Little16(offset + 2) << 16;
  }
  std::uint32_t Big16(std::size_t offset) const { return U8(offset) << 8 | U8(offset + 1); }
  std::uint32_t Big32(std::size_t offset) const { return Big16(offset) << 16 | Big16(offset + 2); }
  std::string Text(std::size_t offset, std::size_t length) const {
    return bytes.substr(offset, length);
  }

 private:
  const std::string& bytes;
};

// Walks the options from offset to end, calling take(code, offset, length)
// for each; false when they overrun the block or lack their end.
template <typename Take>
bool ReadOptions(const Reader& in, std::size_t offset, std::size_t end, Take take) {
  while (offset + 4 <= end) {
    const std::uint32_t code = in.Little16(offset);
    const std::uint32_t length = in.Little16(offset + 2);
    if (code == 0) return length == 0;
    const std::size_t padded = (length + 3u) & ~3u;
    if (offset + 4 + padded > end) return false;
    take(code, offset + 4, length);
    offset += 4 + padded;
  }
  return false;
}

std::string ReadPacket(const Reader& in, std::size_t block, std::size_t end,
                       const std::vector<std::string>& interfaces, CaptureRecord& record) {
  if (end - block < 32) return "packet block too short";
  record.interface = in.Little32(block + 8);
  if (record.interface >= interfaces.size()) return "packet of an undescribed interface";
  record.time = static_cast<std::uint64_t>(in.Little32(block + 12)) << 32 | in.Little32(block + 16);
  const std::uint32_t captured = in.Little32(block + 20);
  if (in.Little32(block + 24) != captured) return "captured length differs from the original";
  const std::size_t data = block + 28;
  const std::size_t options = data + ((captured + 3u) & ~3u);
  if (captured < 28 || options > end - 4) return "packet data overruns its block";
  if (in.U8(data) != 0x45) return "not an IPv4 header of 20 bytes";
  if (in.Big16(data + 2) != captured) return "IPv4 total length is not the captured length";
  if (in.U8(data + 8) != 64 || in.U8(data + 9) != 17) return "IPv4 TTL or protocol is wrong";
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < 20; i += 2) sum += in.Big16(data + i);
  while (sum > 0xFFFF) sum = (sum & 0xFFFF) + (sum >> 16);
  if (sum != 0xFFFF) return "IPv4 header checksum is wrong";
  if (in.Big16(data + 24) != captured - 20 || in.Big16(data + 26) != 0) {
    return "UDP length or checksum is wrong";
  }
  record.source =
      EndpointText(in.Big32(data + 12), static_cast<std::uint16_t>(in.Big16(data + 20)));
  record.destination =
      EndpointText(in.Big32(data + 16), static_cast<std::uint16_t>(in.Big16(data + 22)));
  record.payload = in.Text(data + 28, captured - 28);
  bool flagsSeen = false;
  const bool whole = ReadOptions(in, options, end - 4,
                                 [&](std::uint32_t code, std::size_t at, std::uint32_t length) {
                                   if (code == 2 && length == 4) {
                                     record.flags = in.Little32(at);
                                     flagsSeen = true;
                                   } else if (code == 1) {
                                     record.comment = in.Text(at, length);
                                   }
                                 });
  if (!whole) return "packet options are malformed";
  if (!flagsSeen) return "packet has no flags";
  return {};
}

}  // namespace

std::ostream& operator<<(std::ostream& out, const CaptureRecord& record) {
  static const char kDigits[] = "0123456789ABCDEF";
  out << "{interface " << record.interface << ", time " << record.time << ", flags " << record.flags
      << ", " << record.source << " -> " << record.destination << ", payload ";
  for (const char c : record.payload) {
    const auto byte = static_cast<unsigned char>(c);
    out << kDigits[byte >> 4] << kDigits[byte & 15];
  }
  return out << ", comment \"" << record.comment << "\"}";
}

std::string EndpointText(std::uint32_t hostOrderAddress, std::uint16_t port) {
  return std::to_string(hostOrderAddress >> 24) + "." +
         std::to_string(hostOrderAddress >> 16 & 255) + "." +
         std::to_string(hostOrderAddress >> 8 & 255) + "." +
         std::to_string(hostOrderAddress & 255) + ":" + std::to_string(port);
}

CaptureContents ReadCapture(const std::string& bytes) {
  CaptureContents contents;
  const Reader in(bytes);
  if (!in.Has(0, 28) || in.Little32(0) != kSectionHeader || in.Little32(8) != 0x1A2B3C4D) {
    contents.error = "no little-endian section header";
    return contents;
  }
  for (std::size_t block = 0; block < bytes.size();) {
    const std::uint32_t length = in.Has(block, 8) ? in.Little32(block + 4) : 0;
    if (length < 12 || length % 4 != 0 || !in.Has(block, length) ||
        in.Little32(block + length - 4) != length) {
      contents.error = "block at " + std::to_string(block) + " has bad lengths";
      return contents;
    }
    const std::uint32_t type = in.Little32(block);
    const std::size_t end = block + length;
    if (type == kInterfaceDescription) {
      std::string name;
      std::uint32_t resolution = 0;
      if (in.Little16(block + 8) != 228 ||
          !ReadOptions(in, block + 16, end - 4,
                       [&](std::uint32_t code, std::size_t at, std::uint32_t size) {
                         if (code == 2) name = in.Text(at, size);
                         if (code == 9 && size == 1) resolution = in.U8(at);
                       }) ||
          resolution != 6) {
        contents.error = "interface is not IPv4 with microsecond stamps";
        return contents;
      }
      contents.interfaceNames.push_back(name);
    } else if (type == kEnhancedPacket) {
      CaptureRecord record;
      contents.error = ReadPacket(in, block, end, contents.interfaceNames, record);
      if (!contents.error.empty()) {
        contents.error += " (record " + std::to_string(contents.records.size()) + ")";
        return contents;
      }
      contents.records.push_back(record);
    } else if (type != kSectionHeader || block != 0) {
      contents.error = "unexpected block type " + std::to_string(type);
      return contents;
    }
    block = end;
  }
  return contents;
}

}  // namespace tessard::testing
