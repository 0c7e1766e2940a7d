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

TEST(ProfileReader, HeadersRunToTheLastBracketAndLeadingKeysHaveTheEmptySection) {
  const char* contents = "Port=22\n[Proxy] note [1]\nPort=1\n[]\nPort=3\n[ Other ] ]\nk=v\n";
  EXPECT_EQ(Read(contents, "Proxy] note [1", "Port"), "1");
  EXPECT_EQ(Read(contents, "Proxy", "Port"), "default");
  EXPECT_EQ(Read(contents, "Other ]", "k"), "v");
  // The keys before the first header are the first section named "".
  EXPECT_EQ(Read(contents, "", "Port"), "22");
  EXPECT_EQ(Read("[]\nPort=3\n", "", "Port"), "default");
  // The names asked for are trimmed as the file's are.
  EXPECT_EQ(Read(contents, " Proxy] note [1\t", "\tPort "), "1");
}

TEST(ProfileReader, ANulByteEndsNamesAndValues) {
  const std::string contents("[s]\nk=ab\0cd\nnext=1\nPo\0rt=2\n[Ser\0ver]\nIP=3\n", 41);
  EXPECT_EQ(Read(contents, "s", "k"), "ab");
  EXPECT_EQ(Read(contents, "s", "next"), "1");
  EXPECT_EQ(Read(contents, "s", "Po"), "2");
  EXPECT_EQ(Read(contents, "Ser", "IP"), "3");
  // The value is trimmed before the NUL cuts it, so these quotes stay.
  EXPECT_EQ(Read(std::string("[s]\nk=\"ab\" \0 x\n", 15), "s", "k"), "\"ab\" ");
}

TEST(ProfileReader, QuotesComeOffDefaultsAndAFullQuotedValueLosesItsLastCharacter) {
  EXPECT_EQ(Read("", "s", "k", "\"quoted\"  "), "quoted");
  EXPECT_EQ(Read("", "s", "k", "'x'"), "x");
  EXPECT_EQ(Read("", "s", "k", "\tx\t"), "\tx\t");  // only spaces come off the end
  EXPECT_EQ(Read("", "s", "k", "   "), " ");        // and never the first character
  const char* contents = "[s]\nk=\"abcd\"\n";
  EXPECT_EQ(Read(contents, "s", "k", "", 6), "abcd");
  EXPECT_EQ(Read(contents, "s", "k", "", 5), "abc");
  EXPECT_EQ(Read(contents, "s", "k", "", 4), "abc");
  EXPECT_EQ(Read(contents, "s", "k", "", 2), "a");
  EXPECT_EQ(Read("[s]\nk=\"\"\n", "s", "k", "", 1), "");
}

TEST(ProfileReader, ReadsFilesMarkedAsUtf8OrUtf16InTheWesternCodePage) {
  // e-acute, the euro sign, an emoji (two UTF-16 units), a stray byte.
  EXPECT_EQ(Read("\xEF\xBB\xBF[s]\nk=\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xFFz\n", "s", "k"),
            "\xE9\x80???z");
  const std::string little("\xFF\xFE[\0s\0]\0\n\0k\0=\0\xE9\0\xAC\x20\x3D\xD8\x00\xDE", 22);
  EXPECT_EQ(Read(little, "s", "k"), "\xE9\x80??");
  const std::string big("\xFE\xFF\0[\0s\0]\0\n\0k\0=\0\xE9\x20\xAC", 18);
  EXPECT_EQ(Read(big, "s", "k"), "\xE9\x80");
  // Without a mark the bytes are taken as they are, a mark later included.
  EXPECT_EQ(Read("[s]\n\xEF\xBB\xBFk=1\nk=\xC3\xA9\n", "s", "k"), "\xC3\xA9");
  // ^Z, the DOS end-of-file mark, is white space.
  EXPECT_EQ(Read("[s]\r\nk=eof.txt\x1A\r\n\x1A", "s", "k"), "eof.txt");
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
