#include "capture/pcapng.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace tessard {
namespace {

using Bytes = std::vector<std::uint8_t>;

// An address as sockets hold it: its four bytes in network order in memory.
std::uint32_t Address(std::uint8_t a, std::uint8_t b, std::uint8_t c, std::uint8_t d) {
  const std::uint8_t bytes[4] = {a, b, c, d};
  std::uint32_t address;
  std::memcpy(&address, bytes, 4);
  return address;
}

Bytes Block(const CapturedDatagram& datagram) {
  Bytes block;
  EXPECT_TRUE(AppendPacketBlock(datagram, block));
  return block;
}

TEST(Pcapng, FileHeaderIsOneSectionWithTheGameAndAuxiliaryInterfaces) {
  const Bytes expected = {
      // Section header: type, length 44, byte-order magic, version 1.0,
      // section length -1, "Tessard" padded to 8, end of options, length.
      0x0A, 0x0D, 0x0D, 0x0A, 0x2C, 0x00, 0x00, 0x00, 0x4D, 0x3C, 0x2B, 0x1A,  //
      0x01, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,  //
      0x04, 0x00, 0x07, 0x00, 'T', 'e', 's', 's', 'a', 'r', 'd', 0x00,         //
      0x00, 0x00, 0x00, 0x00, 0x2C, 0x00, 0x00, 0x00,                          //
      // Interface 0: link type 228, snap length 0, "game", resolution 6.
      0x01, 0x00, 0x00, 0x00, 0x28, 0x00, 0x00, 0x00, 0xE4, 0x00, 0x00, 0x00,  //
      0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0x04, 0x00, 'g', 'a', 'm', 'e',      //
      0x09, 0x00, 0x01, 0x00, 0x06, 0x00, 0x00, 0x00,                          //
      0x00, 0x00, 0x00, 0x00, 0x28, 0x00, 0x00, 0x00,                          //
      // Interface 1: "auxiliary" padded to 12.
      0x01, 0x00, 0x00, 0x00, 0x30, 0x00, 0x00, 0x00, 0xE4, 0x00, 0x00, 0x00,  //
      0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0x09, 0x00, 'a', 'u', 'x', 'i',      //
      'l', 'i', 'a', 'r', 'y', 0x00, 0x00, 0x00,                               //
      0x09, 0x00, 0x01, 0x00, 0x06, 0x00, 0x00, 0x00,                          //
      0x00, 0x00, 0x00, 0x00, 0x30, 0x00, 0x00, 0x00};
  EXPECT_EQ(CaptureFileHeader(), expected);
}

TEST(Pcapng, PacketBlockFramesThePayloadAndPadsOddLengths) {
  const std::uint8_t payload[] = {0xAA, 0xBB, 0xCC};
  CapturedDatagram datagram;
  datagram.interface = CaptureInterface::kAuxiliary;
  datagram.timestampMicroseconds = 1700000000123456u;  // 0x00060A24'18202240
  datagram.source = {Address(127, 0, 0, 1), 383};
  datagram.destination = {Address(10, 1, 2, 3), 52001};
  datagram.direction = CaptureDirection::kInbound;
  datagram.payload = payload;
  datagram.length = sizeof(payload);
  datagram.comment = "abcde";
  const Bytes expected = {
      0x06, 0x00, 0x00, 0x00, 0x58, 0x00, 0x00, 0x00,  // enhanced packet, 88 bytes
      0x01, 0x00, 0x00, 0x00,                          // interface 1
      0x24, 0x0A, 0x06, 0x00, 0x40, 0x22, 0x20, 0x18,  // time stamp, high word first
      0x1F, 0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00,  // captured and original: 31
      // IPv4: total length 31, TTL 64, UDP, checksum EFC9, 127.0.0.1 to 10.1.2.3.
      0x45, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00, 0x00, 0x40, 0x11, 0xEF, 0xC9,  //
      0x7F, 0x00, 0x00, 0x01, 0x0A, 0x01, 0x02, 0x03,                          //
      // UDP: 383 to 52001, length 11, no checksum; the payload and one pad.
      0x01, 0x7F, 0xCB, 0x21, 0x00, 0x0B, 0x00, 0x00, 0xAA, 0xBB, 0xCC, 0x00,  //
      0x02, 0x00, 0x04, 0x00, 0x01, 0x00, 0x00, 0x00,                          // flags: inbound
      0x01, 0x00, 0x05, 0x00, 'a', 'b', 'c', 'd', 'e', 0x00, 0x00, 0x00,       // comment
      0x00, 0x00, 0x00, 0x00, 0x58, 0x00, 0x00, 0x00};
  EXPECT_EQ(Block(datagram), expected);
}

// Blocks are appended to what the buffer holds, and one that cannot be
// built appends nothing.
TEST(Pcapng, AppendsToTheCallersBufferAndRefusesWhatDoesNotFit) {
  std::vector<std::uint8_t> payload(kMaxCapturedPayload + 1, 0x5A);
  CapturedDatagram datagram;
  datagram.payload = payload.data();
  datagram.length = payload.size();
  Bytes file = CaptureFileHeader();
  const std::size_t headerSize = file.size();
  EXPECT_FALSE(AppendPacketBlock(datagram, file));
  EXPECT_EQ(file, CaptureFileHeader());

  datagram.length = kMaxCapturedPayload;  // IPv4 total length 65535
  ASSERT_TRUE(AppendPacketBlock(datagram, file));
  EXPECT_EQ(file[headerSize + 31], 0xFF);  // low byte of the IPv4 total length
  const std::size_t firstEnd = file.size();

  const std::string tooLong(kMaxCaptureComment + 1, 'c');
  datagram.length = 3;
  datagram.comment = tooLong.c_str();
  EXPECT_FALSE(AppendPacketBlock(datagram, file));
  EXPECT_EQ(file.size(), firstEnd);
  datagram.comment = "x";
  ASSERT_TRUE(AppendPacketBlock(datagram, file));
  EXPECT_TRUE(std::equal(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(headerSize),
                         CaptureFileHeader().begin()));
  EXPECT_EQ(Bytes(file.begin() + static_cast<std::ptrdiff_t>(firstEnd), file.end()),
            Block(datagram));
}

TEST(Pcapng, Ipv4HeaderChecksum) {
  // A textbook header: 192.168.0.1 to 192.168.0.199, checksum B861.
  std::uint8_t header[20] = {0x45, 0x00, 0x00, 0x73, 0x00, 0x00, 0x40, 0x00, 0x40, 0x11,
                             0x00, 0x00, 0xC0, 0xA8, 0x00, 0x01, 0xC0, 0xA8, 0x00, 0xC7};
  EXPECT_EQ(Ipv4HeaderChecksum(header, 20), 0xB861);
  header[10] = 0xB8;
  header[11] = 0x61;
  EXPECT_EQ(Ipv4HeaderChecksum(header, 20), 0);

  // Written headers check out whatever the addresses and length.
  const std::uint8_t payload[520] = {};
  CapturedDatagram datagram;
  datagram.payload = payload;
  datagram.length = sizeof(payload);
  datagram.source = {Address(255, 255, 255, 255), 65535};
  EXPECT_EQ(Ipv4HeaderChecksum(Block(datagram).data() + 28, 20), 0);
}

}  // namespace
}  // namespace tessard
