// The portable profile reader held against the real GetPrivateProfileStringA:
// for every awkward file both must give the same answer.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/profile_reader.h"

namespace tessard::platform {
namespace {

struct Query {
  const char* section;
  const char* key;
};

constexpr Query kQueries[] = {
    {"Proxy", "Log"}, {"Proxy", "Port"}, {"Server", "IP"}, {"Server", "Port"},
    {"s", "k"},       {"s", "next"},     {"s", ";k"},      {"S", "K"},
};

const std::vector<std::string>& AwkwardFiles() {
  static const std::vector<std::string> files = {
      "",
      "[Proxy]\r\nLog=packets.txt\r\nPort=15000\r\n[Server]\r\nIP=127.0.0.1\r\nPort=382\r\n",
      "[pRoXy]\nlOg = my log.txt \nPORT\t=\t2000\n[SERVER]\nip=host\nport=3",
      "[Proxy]\rLog=cr.txt\rPort=1\r[Server]\rPort=2",
      "  [  Proxy  ]  anything after\nLog='single quoted'\nPort=\"42\"\n",
      "[Proxy]\nLog=\"unbalanced'\nPort=\"\"\n[Server]\nIP=\" spaced \"\n",
      "[Proxy]\nPort=1\nPort=2\n[Proxy]\nPort=3\nLog=second section\n",
      "[Proxy\nPort=9\n[Proxy]\nPort=10\n",
      "[s]\n;k=commented\n#k=hashed\nk=value ; not a comment\nnext\n",
      "[s]\nk\nk=hidden\n[S]\nK=other\n",
      "[Proxy]\nLog=" + std::string(300, 'L') + "\n",
      std::string("[s]\nk=ab\0cd\nnext=1\n", 19),
      "[Proxy]\n=no name\nPort = 7 \n\n\n[Server]\n   \nIP=a=b\n",
      "Port=1\n[Server]\nPort=5",
  };
  return files;
}

TEST(ProfileReaderAgainstWindows, GivesWhatGetPrivateProfileStringGives) {
  const std::filesystem::path path =
      std::filesystem::temp_directory_path() / "tessard-profile-differential.ini";
  for (const std::string& contents : AwkwardFiles()) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << contents;
    for (const Query& query : kQueries) {
      char fromWindows[256];
      char fromReader[256];
      const std::uint32_t windowsLength =
          ReadProfileString(query.section, query.key, "default", fromWindows, sizeof(fromWindows),
                            path.string().c_str());
      const std::uint32_t readerLength = ReadProfileValue(
          contents, query.section, query.key, "default", fromReader, sizeof(fromReader));
      EXPECT_EQ(std::string(fromReader), std::string(fromWindows))
          << "[" << query.section << "] " << query.key << " in:\n"
          << contents;
      EXPECT_EQ(readerLength, windowsLength);
    }
  }
  std::filesystem::remove(path);
}

}  // namespace
}  // namespace tessard::platform
