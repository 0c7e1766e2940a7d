// The fuzzer's oracle must itself be right: it reads back every dump the
// packet log writes, and refuses text that is off by one cell or column.
#include "fuzz/dump_text_parser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testing/log_catcher.h"

namespace tessard::fuzzing {
namespace {

std::string DumpText(Direction direction, const std::vector<std::uint8_t>& bytes) {
  return testing::DumpText(direction, bytes.data(), static_cast<std::int32_t>(bytes.size()));
}

std::vector<std::uint8_t> Pattern(std::size_t length) {
  std::vector<std::uint8_t> bytes(length);
  for (std::size_t i = 0; i < length; ++i) bytes[i] = static_cast<std::uint8_t>(i * 37 + 11);
  return bytes;
}

TEST(DumpTextParser, ReadsBackDumpsOfEveryShapeWithNoticesBetween) {
  std::string text = "c2s       Connection from 127.0.0.1:5000 (proto 1)\n";
  std::vector<ParsedDump> expected;
  for (const std::size_t length : {0, 1, 15, 16, 17, 32, 255, 256, 520}) {
    const auto direction =
        length % 2 == 0 ? Direction::kServerToClient : Direction::kClientToServer;
    expected.push_back(ParsedDump{direction, Pattern(length)});
    text += DumpText(direction, expected.back().bytes);
    text += "s2c       SubSpace decryption enabled.\n";
  }
  std::vector<ParsedDump> parsed;
  std::string reason;
  ASSERT_TRUE(ParseDumps(text, parsed, reason)) << reason;
  ASSERT_EQ(parsed.size(), expected.size());
  for (std::size_t i = 0; i < parsed.size(); ++i) {
    EXPECT_EQ(parsed[i].direction, expected[i].direction) << i;
    EXPECT_EQ(parsed[i].bytes, expected[i].bytes) << i;
  }
}

TEST(DumpTextParser, RefusesDamagedDumps) {
  const std::string good = DumpText(Direction::kClientToServer, Pattern(20));
  auto refused = [](std::string text) {
    std::vector<ParsedDump> parsed;
    std::string reason;
    return !ParseDumps(text, parsed, reason);
  };
  std::string column = good;
  ASSERT_EQ(column[61], '0');  // byte 1 is 0x30
  column[61] = 'x';            // the column no longer matches its cell
  EXPECT_TRUE(refused(column));
  std::string offset = good;
  offset.replace(offset.find("c2s 0010"), 8, "c2s 0011");
  EXPECT_TRUE(refused(offset));
  EXPECT_TRUE(refused(good.substr(0, good.size() - 1)));  // not closed by an empty line
  std::string blanks = good;
  blanks.erase(blanks.rfind("   "), 3);  // one blank cell short
  EXPECT_TRUE(refused(blanks));
  std::string switched = good;
  switched.replace(switched.find("c2s 0010"), 3, "s2c");
  EXPECT_TRUE(refused(switched));
}

}  // namespace
}  // namespace tessard::fuzzing
