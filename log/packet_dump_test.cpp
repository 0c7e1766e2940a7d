#include "log/packet_dump.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "log/packet_log.h"
#include "testing/log_catcher.h"

namespace tessard {
namespace {

using PacketDumpTest = testing::LogCatchingTest;

const std::vector<std::uint8_t> kExample = {0x00, 0x03, 0x48, 0x69, 0x21, 0x20, 0x7E,
                                            0x7F, 0x80, 0xFF, 0x41, 0x42, 0x43, 0x44,
                                            0x45, 0x46, 0x31, 0x32, 0x0A};

const std::string kExampleText =
    "s2c 0000  00 03 48 69 21 20 7E 7F 80 FF 41 42 43 44 45 46   ..Hi! ~...ABCDEF\n"
    "s2c 0010  31 32 0A" +
    std::string(42, ' ') + "12.\n\n";

std::vector<std::uint8_t> Counting(std::size_t length) {
  std::vector<std::uint8_t> bytes(length);
  for (std::size_t i = 0; i < length; ++i) bytes[i] = static_cast<std::uint8_t>(i);
  return bytes;
}

void Dump(Direction direction, const std::vector<std::uint8_t>& bytes) {
  DumpPacket(direction, bytes.data(), static_cast<std::int32_t>(bytes.size()));
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(text.substr(start, end - start));
  }
  lines.push_back(text.substr(start));
  return lines;
}

TEST_F(PacketDumpTest, WorkedExampleByteForByte) {
  Dump(Direction::kServerToClient, kExample);
  const std::vector<std::string> pieces = FlushPieces();
  ASSERT_EQ(pieces.size(), 35u);
  EXPECT_EQ(pieces[0], "s2c 0000  ");
  EXPECT_EQ(pieces[1], "00 ");
  EXPECT_EQ(pieces[10], "FF ");
  EXPECT_EQ(pieces[17], "  ..Hi! ~...ABCDEF\ns2c 0010  ");
  EXPECT_EQ(pieces[20], "0A ");
  for (int i = 21; i < 34; ++i) EXPECT_EQ(pieces[i], "   ") << i;
  EXPECT_EQ(pieces[34], "  12.\n\n");

  std::string text;
  for (const std::string& piece : pieces) text += piece;
  EXPECT_EQ(text, kExampleText);

  Dump(Direction::kClientToServer, kExample);
  std::string c2s = kExampleText;
  c2s.replace(c2s.find("s2c"), 3, "c2s");
  c2s.replace(c2s.find("s2c"), 3, "c2s");
  EXPECT_EQ(FlushText(), c2s);
}

TEST_F(PacketDumpTest, PieceCountsAndRowLayout) {
  for (std::size_t length : {1u, 16u, 17u, 520u}) {
    Dump(Direction::kServerToClient, Counting(length));
    EXPECT_EQ(FlushPieces().size(), length <= 16 ? 18u : length <= 32 ? 35u : 562u) << length;
  }
  for (std::size_t n = 1; n <= 100; ++n) {
    Dump(Direction::kServerToClient, Counting(n));
    EXPECT_EQ(FlushPieces().size(), 2 + n + (n - 1) / 16 + (16 - n % 16) % 16) << n;
  }

  Dump(Direction::kServerToClient, Counting(16));
  EXPECT_EQ(FlushText(),
            "s2c 0000  00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F   ................\n\n");
  Dump(Direction::kServerToClient, Counting(17));
  EXPECT_EQ(Lines(FlushText())[1], "s2c 0010  10 " + std::string(45 + 2, ' ') + ".");

  const std::vector<std::uint8_t> bytes = Counting(520);
  Dump(Direction::kServerToClient, bytes);
  const std::vector<std::string> lines = Lines(FlushText());
  ASSERT_EQ(lines.size(), 35u);  // 33 rows, the empty line, nothing after it
  EXPECT_EQ(lines[33], "");
  EXPECT_EQ(lines[34], "");
  for (std::size_t row = 0; row < 33; ++row) {
    char start[16];
    std::snprintf(start, sizeof start, "s2c %04X  ", static_cast<unsigned>(row * 16));
    EXPECT_EQ(lines[row].substr(0, 10), start);
    std::string column;
    for (std::size_t i = row * 16; i < bytes.size() && i < row * 16 + 16; ++i) {
      column += bytes[i] >= 0x20 && bytes[i] <= 0x7E ? static_cast<char>(bytes[i]) : '.';
    }
    EXPECT_EQ(lines[row].substr(58, 2), "  ");
    EXPECT_EQ(lines[row].substr(60), column) << row;
    if (row < 32) {
      EXPECT_EQ(lines[row].size(), 76u) << row;
    }
  }
  EXPECT_EQ(lines[1].substr(0, 10), "s2c 0010  ");
  EXPECT_EQ(lines[32].substr(0, 34), "s2c 0200  00 01 02 03 04 05 06 07 ");

  // Offsets grow past four digits rather than wrap.
  Dump(Direction::kClientToServer, Counting(0x10001));
  const std::vector<std::string> longLines = Lines(FlushText());
  ASSERT_EQ(longLines.size(), 0x1003u);
  EXPECT_EQ(longLines[0xFFF].substr(0, 10), "c2s FFF0  ");
  EXPECT_EQ(longLines[0x1000], "c2s 10000  00 " + std::string(45 + 2, ' ') + ".");
}

TEST_F(PacketDumpTest, PrintableBoundaries) {
  Dump(Direction::kServerToClient, {0x1F, 0x20, 0x7E, 0x7F, 0x80, 0xFF});
  EXPECT_EQ(FlushText(), "s2c 0000  1F 20 7E 7F 80 FF " + std::string(30, ' ') + "  . ~...\n\n");
}

TEST_F(PacketDumpTest, EmptyOrNegativeLengthGivesHeaderAndClosing) {
  for (std::int32_t length : {0, -1, INT_MIN}) {
    DumpPacket(Direction::kServerToClient, nullptr, length);
    EXPECT_EQ(FlushPieces(), (std::vector<std::string>{"s2c 0000  ", "  \n\n"})) << length;
  }
  std::uint8_t byte = 0x41;
  DumpPacket(Direction::kClientToServer, &byte, -5);
  EXPECT_EQ(FlushText(), "c2s 0000    \n\n");
}

TEST_F(PacketDumpTest, WriteOutInTheMiddleOfADumpChangesNoText) {
  for (int i = 0; i < 990; ++i) LogLine("x");
  Dump(Direction::kServerToClient, kExample);
  EXPECT_EQ(Written().size(), 1000u);
  EXPECT_EQ(packetLog.count, 25);
  EXPECT_EQ(FlushText(), std::string(990, 'x') + kExampleText);
}

}  // namespace
}  // namespace tessard
