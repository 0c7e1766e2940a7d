#include "util/scrambler.h"

#include <gtest/gtest.h>

#include <string>

namespace tessard {
namespace {

std::string Scrambled(const std::string& text) {
  std::string out(text.size() + 1, 'x');
  Scramble(text.c_str(), out.data());
  EXPECT_EQ(out.back(), '\0');
  out.pop_back();
  return out;
}

std::string Unscrambled(const std::string& text, std::uint8_t key) {
  std::string out(text.size() + 1, 'x');
  Unscramble(text.c_str(), out.data(), key);
  EXPECT_EQ(out.back(), 'x');  // no terminator written
  out.pop_back();
  return out;
}

std::string InPlace(std::string text) {
  UnscrambleInPlace(text.data());
  return text;
}

TEST(ScramblerTest, OddLengthsSearchForAPrintableDecoding) {
  EXPECT_EQ(Scrambled("abc"), "\x01\xED\x01");
  EXPECT_EQ(Unscrambled("\x01\xED\x01", 96), "abc");
  EXPECT_EQ(InPlace("\x01\xED\x01"), "!\"#");  // start key 32
  EXPECT_EQ(Scrambled("Hello"), "\x0A\x0F\x7E\x86\x9D");
  EXPECT_EQ(InPlace("\x0A\x0F\x7E\x86\x9D"), "Jgnnm");
  EXPECT_EQ(InPlace("\x3B\x52\xA8"), "\xC4\x75\xC7");  // none printable: start key 255
  for (int b = 1; b < 256; ++b) {
    const std::string decoded = InPlace(std::string(1, static_cast<char>(b)));
    ASSERT_FALSE(IsUnprintable(static_cast<std::uint8_t>(decoded[0]))) << b;
  }
}

TEST(ScramblerTest, EvenLengthsRoundTripUnlessA237Appears) {
  EXPECT_EQ(Scrambled("ab"), "\x62\xE9");
  EXPECT_EQ(InPlace("\x62\xE9"), "ab");
  EXPECT_EQ(Scrambled("test"), "\x62\xFB\x35\x58");
  EXPECT_EQ(InPlace("\x62\xFB\x35\x58"), "test");
  EXPECT_EQ(Scrambled("56"), "\x36\xED");  // a true 237, read back as escaped 0
  EXPECT_EQ(InPlace("\x36\xED"), "\xD8\x36");
  EXPECT_EQ(Unscrambled("\x36\xED", 3), "\x35\xDB");
  EXPECT_EQ(Scrambled(""), "");
  EXPECT_EQ(Unscrambled("", 7), "");
  EXPECT_EQ(InPlace(""), "");
}

TEST(ScramblerTest, Printable) {
  EXPECT_TRUE(IsUnprintable(0));
  EXPECT_TRUE(IsUnprintable(32));
  EXPECT_FALSE(IsUnprintable(33));
  EXPECT_FALSE(IsUnprintable(126));
  EXPECT_TRUE(IsUnprintable(127));
  EXPECT_TRUE(IsUnprintable(255));
}

}  // namespace
}  // namespace tessard
