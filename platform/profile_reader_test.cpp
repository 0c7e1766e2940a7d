#include "platform/profile_reader.h"

#include <gtest/gtest.h>

#include <string>

namespace tessard::platform {
namespace {

std::string Read(std::string_view contents, const char* section, const char* key,
                 const char* fallback = "default", std::uint32_t size = 256) {
  char value[256];
  const std::uint32_t written = ReadProfileValue(contents, section, key, fallback, value, size);
  EXPECT_EQ(written, std::string(value).size());
  return value;
}

TEST(ProfileReader, FindsKeysInTheirSectionWhateverTheLineEnds) {
  for (const char* lineEnd : {"\n", "\r\n", "\r"}) {
    const std::string contents = std::string("[Proxy]") + lineEnd + "Port=1" + lineEnd +
                                 "[Server]" + lineEnd + "Port=2" + lineEnd + "IP=host";
    EXPECT_EQ(Read(contents, "Proxy", "Port"), "1");
    EXPECT_EQ(Read(contents, "Server", "Port"), "2");
    EXPECT_EQ(Read(contents, "Server", "IP"), "host");  // no final line end
    EXPECT_EQ(Read(contents, "Proxy", "IP"), "default");
    EXPECT_EQ(Read(contents, "Other", "Port"), "default");
  }
  EXPECT_EQ(Read("", "Proxy", "Port"), "default");
}

TEST(ProfileReader, IgnoresCaseAndTrimsWhiteSpace) {
  const char* contents = "  [  pRoXy  ]  trailing words\n  pOrT \t=  15000  \n";
  EXPECT_EQ(Read(contents, "Proxy", "Port"), "15000");
  EXPECT_EQ(Read(contents, "PROXY", "port"), "15000");
  // Without its closing bracket a line is no header.
  EXPECT_EQ(Read("[Proxy\nPort=1\n", "Proxy", "Port"), "default");
}

TEST(ProfileReader, RemovesOnePairOfMatchingQuotes) {
  const char* contents =
      "[s]\na=\"quoted value\"\nb='single'\nc=\"mixed'\nd=\"\"two\"\"\ne=\" keep \"\nf=\"\n";
  EXPECT_EQ(Read(contents, "s", "a"), "quoted value");
  EXPECT_EQ(Read(contents, "s", "b"), "single");
  EXPECT_EQ(Read(contents, "s", "c"), "\"mixed'");
  EXPECT_EQ(Read(contents, "s", "d"), "\"two\"");
  EXPECT_EQ(Read(contents, "s", "e"), " keep ");
  EXPECT_EQ(Read(contents, "s", "f"), "\"");
}

TEST(ProfileReader, FirstSectionAndFirstKeyWin) {
  const char* contents = "[s]\nk=first\nk=second\n[S]\nk=third\nonly=later\n";
  EXPECT_EQ(Read(contents, "s", "k"), "first");
  EXPECT_EQ(Read(contents, "s", "only"), "default");
  // A key without "=" hides every later line of that key.
  EXPECT_EQ(Read("[s]\nk\nk=value\n", "s", "k"), "default");
  EXPECT_EQ(Read("[s]\nk=\n", "s", "k", "default"), "");
}

TEST(ProfileReader, HasNoInlineComments) {
  const char* contents = "[s]\n;k=commented\n#k=hashed\nk=value ; not a comment\n";
  EXPECT_EQ(Read(contents, "s", "k"), "value ; not a comment");
  EXPECT_EQ(Read(contents, "s", ";k"), "commented");
}

TEST(ProfileReader, ANulByteEndsTheValue) {
  const std::string contents("[s]\nk=ab\0cd\nnext=1\n", 19);
  EXPECT_EQ(Read(contents, "s", "k"), "ab");
  EXPECT_EQ(Read(contents, "s", "next"), "1");
}

TEST(ProfileReader, CutsValuesToTheBufferAndNeverWritesBeyondIt) {
  const std::string contents = "[s]\nk=" + std::string(300, 'x') + "\n";
  EXPECT_EQ(Read(contents, "s", "k"), std::string(255, 'x'));
  char small[5] = {'#', '#', '#', '#', '#'};
  EXPECT_EQ(ReadProfileValue(contents, "s", "k", "", small, 4), 3u);
  EXPECT_EQ(std::string(small, 5), std::string("xxx\0#", 5));
  EXPECT_EQ(ReadProfileValue(contents, "s", "k", "", small, 0), 0u);
  EXPECT_EQ(small[0], 'x');
  // The default is cut the same way, and loses its trailing blanks.
  EXPECT_EQ(Read("", "s", "k", "packets.txt  ", 7), "packet");
  EXPECT_EQ(Read("", "s", "k", nullptr), "");
}

}  // namespace
}  // namespace tessard::platform
