// The portable profile reader held against GetPrivateProfileStringA itself
// (reached through the seam's ReadProfileString), over settings files that
// users and editors really produce. Only the Windows build compiles this.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/profile_reader.h"
#include "testing/scratch_directory.h"

namespace tessard::platform {
namespace {

struct Query {
  const char* section;
  const char* key;
  const char* defaultValue = "default";
  std::uint32_t size = 256;
};

struct Case {
  const char* name;
  std::string contents;
  std::vector<Query> extraQueries = {};
};

// What the relay asks for, plus names in other cases and names nobody has.
const std::vector<Query> kRelayQueries = {
    {"Proxy", "Log", "packets.txt"},
    {"Proxy", "Port", "15000"},
    {"Server", "IP", "127.0.0.1"},
    {"Server", "Port", "382"},
    {"PROXY", "log"},
    {"server", "ip"},
    {"Proxy", "Missing"},
    {"Missing", "Port"},
};

// A literal with its NUL bytes kept.
template <std::size_t N>
std::string WithNuls(const char (&text)[N]) {
  return std::string(text, N - 1);
}

std::vector<Case> AwkwardFiles() {
  const std::string longValue(300, 'v');
  return {
      {"plain CR LF",
       "[Proxy]\r\nLog=my.txt\r\nPort=2000\r\n[Server]\r\nIP=10.1.2.3\r\nPort=3000\r\n"},
      {"mixed case names", "[pRoXy]\nlOg=Mixed.TXT\nPORT=1\n[SERVER]\nip=host\nPoRt=2\n"},
      {"blanks around names and values",
       "  [ Proxy ]  \n  Log  =  spaced out.txt  \n\tPort\t=\t77\t\n[\tServer\t]\nIP =1.2.3.4\n"},
      {"blanks inside names",
       "[Pro xy]\nLog=a\n[Proxy]\nL og=b\nLog=c\n",
       {{"Pro xy", "Log"}, {"Proxy", "L og"}}},
      {"quoted values",
       "[Proxy]\nLog=\"quoted name.txt\"\nPort='42'\n[Server]\nIP=\"mixed'\nPort=\"\"\n"
       "a=\" keep inside \"\nb=\"\nc=\"\"two\"\"\nd=  \"x\"  \ne=\"x\" y\nf='\n",
       {{"Server", "a"},
        {"Server", "b"},
        {"Server", "c"},
        {"Server", "d"},
        {"Server", "e"},
        {"Server", "f"}}},
      {"duplicate sections and keys",
       "[Proxy]\nPort=1\nPort=2\n[Server]\nIP=first\n[proxy]\nPort=3\nLog=later.txt\n"
       "[Server]\nPort=9\n"},
      {"no final newline", "[Proxy]\nLog=last.txt\n[Server]\nPort=4321"},
      {"comment lines",
       "; a note\n[Proxy]\n;Port=1\n# Port=2\nLog=log.txt ; not a comment\n[Server]\n"
       "#IP=9.9.9.9\nPort=5 # nor this\n",
       {{"Proxy", ";Port"}, {"Proxy", "# Port"}, {"Server", "#IP"}}},
      {"a 300-character value",
       "[Proxy]\nLog=" + longValue + "\nPort=" + longValue + "\n",
       {{"Proxy", "Log", "", 1},
        {"Proxy", "Log", "", 2},
        {"Proxy", "Log", "", 5},
        {"Proxy", "Log", "", 255},
        {"Proxy", "Log", "", 301}}},
      {"NUL bytes",
       WithNuls("[Proxy]\nLog=ab\0cd.txt\nPo\0rt=1\nPort=2\n[Ser\0ver]\nIP=1.1.1.1\n\0[Server]\n"
                "Port=6\n"),
       {{"Proxy", "Po"}, {"Ser", "IP"}, {"Ser", "Port"}}},
      {"NUL bytes next to blanks and quotes",
       WithNuls("[Proxy]\nLog=\"ab\" \0 x\nPort=\" 1 \0\"\n[Server]\nIP \0=5.5.5.5\nIP=6.6.6.6\n"
                "Port=\0\n")},
      {"a NUL byte before the first section", WithNuls("\0\n[Proxy]\nPort=8\n")},
      {"lone CR line ends", "[Proxy]\rLog=cr.txt\rPort=11\r[Server]\rIP=2.2.2.2\rPort=12\r"},
      {"mixed line ends", "[Proxy]\r\nLog=a.txt\n\rPort=13\r\r\n[Server]\n\nPort=14\r"},
      {"text after the closing bracket",
       "[Proxy] trailing words\nPort=15\n[Server]]\nPort=16\n",
       {{"Server]", "Port"}}},
      {"brackets after the closing bracket",
       "[Proxy] note [1]\nPort=31\n[Server] x]\nPort=32\n[ Other ] ]\nk=v\n",
       {{"Proxy] note [1", "Port"}, {"Server] x", "Port"}, {"Other ]", "k"}, {"Other", "k"}}},
      {"a header without its closing bracket",
       "[Proxy]\nPort=17\n[Server\nPort=18\nIP=3.3.3.3\n",
       {{"[Server", "Port"}}},
      {"lines without =",
       "[Proxy]\nLog\nLog=hidden.txt\nPort 19\n[Server]\njust words\nIP=4.4.4.4\n",
       {{"Proxy", "Port 19"}, {"Server", "just words"}}},
      {"empty values and names",
       "[Proxy]\nLog=\nPort=   \n=nameless\n[]\nPort=20\n",
       {{"Proxy", ""}, {"", "Port"}}},
      {"an empty header ends a section",
       "[Proxy]\n[]\nLog=x.txt\n[ ]\nPort=33\n",
       {{"", "Log"}, {" ", "Port"}}},
      {"values holding =", "[Proxy]\nLog=a=b=c.txt\nPort==21\n"},
      {"keys before any section", "Port=22\n[Proxy]\nLog=x.txt\n", {{"", "Port"}}},
      {"a UTF-8 byte-order mark", "\xEF\xBB\xBF[Proxy]\r\nPort=23\r\nLog=bom.txt\r\n"},
      {"a UTF-8 byte-order mark not at the start", "[Proxy]\r\n\xEF\xBB\xBFPort=34\r\n"},
      {"UTF-16 little-endian", WithNuls("\xFF\xFE[\0P\0r\0o\0x\0y\0]\0\r\0\n\0P\0o\0r\0t\0=\0"
                                        "3\0\x35\0\r\0\n\0")},
      {"UTF-16 big-endian", WithNuls("\xFE\xFF\0[\0P\0r\0o\0x\0y\0]\0\r\0\n\0P\0o\0r\0t\0=\0"
                                     "3\0\x36\0\r\0\n")},
      {"a lone CR in a file of LF lines",
       "[Proxy]\rPort=44\n[Server]\nPort=45\rIP=7.7.7.7\nLog=a\rb\n",
       {{"Server", "Log"}}},
      {"CR lines after the last LF", "[Proxy]\nPort=42\r[Server]\rPort=43\r"},
      {"a DOS end-of-file mark",
       "[Proxy]\r\nLog=eof.txt\x1A\r\nPort=\x1A"
       "46\r\n\x1A"},
      {"control characters around values",
       "[Proxy]\nLog=\x1Cx\x1F\nPort=\x1E"
       "47\x1D\n[Server]\nIP=\x7F"
       "1.2.3.4\nPort=\x01"
       "48\n"},
      {"names asked for with blanks",
       "[Proxy]\nPort=49\n=nameless\n[Server]\nIP=8.8.8.8\n",
       {{" Proxy ", " Port "}, {"Proxy", " "}, {"\tServer", "IP\t"}, {"Proxy", "\tPort"}}},
      {"quoted values cut by the buffer",
       "[Proxy]\nLog=\"abcd\"\nPort='" + std::string(255, 'q') + "'\n",
       {{"Proxy", "Log", "", 3},
        {"Proxy", "Log", "", 4},
        {"Proxy", "Log", "", 5},
        {"Proxy", "Log", "", 6},
        {"Proxy", "Log", "", 7}}},
      {"bytes above 127", "[Proxy]\nLog=\xE9t\xE9 \xA0\n\xA0Port=24\nPort=\xA0 25\n"},
      {"a long line", "[Proxy]\nLog=" + std::string(5000, 'w') + "\nPort=26\n"},
      {"blank lines and white-space lines", "\n\n  \n\t\n[Proxy]\n \nPort=27\n\n"},
      {"defaults with blanks and quotes",
       "[Other]\nk=v\n",
       {{"Proxy", "Log", "packets.txt   "},
        {"Proxy", "Log", "  lead"},
        {"Proxy", "Log", "\tx\t"},
        {"Proxy", "Log", "\"quoted\""},
        {"Proxy", "Log", "\"x\"  "},
        {"Proxy", "Log", "\"x  \""},
        {"Proxy", "Log", "'x'"},
        {"Proxy", "Log", "\"x'"},
        {"Proxy", "Log", "\""},
        {"Proxy", "Log", "\"\""},
        {"Proxy", "Log", "\"abcdef\"", 4},
        {"Proxy", "Log", "", 256},
        {"Proxy", "Log", "longer", 4},
        {"Proxy", "Log", "   "},
        {"Proxy", "Log", " "},
        {"Proxy", "Log", " \"x\""}}},
  };
}

TEST(ProfileReaderAgainstWindows, AwkwardFilesReadTheSame) {
  const testing::ScratchDirectory scratch("profile-differential");
  const std::filesystem::path& directory = scratch.Path();
  int fileNumber = 0;
  for (const Case& file : AwkwardFiles()) {
    // A file of its own for every case: the system may cache what it read.
    const std::filesystem::path path = directory / ("case" + std::to_string(fileNumber++) + ".ini");
    std::ofstream(path, std::ios::binary) << file.contents;
    std::vector<Query> queries = kRelayQueries;
    queries.insert(queries.end(), file.extraQueries.begin(), file.extraQueries.end());
    for (const Query& query : queries) {
      SCOPED_TRACE(std::string(file.name) + ": [" + query.section + "] " + query.key + " size " +
                   std::to_string(query.size));
      char windows[512];
      char portable[512];
      std::memset(windows, '#', sizeof(windows));
      std::memset(portable, '#', sizeof(portable));
      const std::uint32_t windowsCount = ReadProfileString(
          query.section, query.key, query.defaultValue, windows, query.size, path.string().c_str());
      const std::uint32_t portableCount = ReadProfileValue(
          file.contents, query.section, query.key, query.defaultValue, portable, query.size);
      EXPECT_EQ(std::string(portable), std::string(windows));
      EXPECT_EQ(portableCount, windowsCount);
      // Neither writes past the size it was given.
      EXPECT_EQ(windows[query.size], '#');
      EXPECT_EQ(portable[query.size], '#');
    }
  }
}

}  // namespace
}  // namespace tessard::platform
