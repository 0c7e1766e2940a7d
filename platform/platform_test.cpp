#include "platform/platform.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>

namespace tessard::platform {
namespace {

TEST(Platform, CurrentDirectoryTellsTheSizeItNeedsWhenTheBufferIsShort) {
  const std::string expected = std::filesystem::current_path().string();
  char buffer[4096];
  ASSERT_EQ(CurrentDirectory(buffer, sizeof(buffer)), expected.size());
  EXPECT_EQ(std::string(buffer), expected);
  char small[2] = {'#', '#'};
  if (expected.size() >= 2) {
    EXPECT_EQ(CurrentDirectory(small, sizeof(small)), expected.size() + 1);
    EXPECT_EQ(small[0], '#') << "a short buffer must stay untouched";
    EXPECT_EQ(small[1], '#');
  }
}

TEST(Platform, DottedQuadsInNetworkOrder) {
  const std::uint32_t loopback = ParseDottedQuad("127.0.0.1");
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(&loopback);
  EXPECT_EQ(bytes[0], 127);
  EXPECT_EQ(bytes[3], 1);
  EXPECT_STREQ(FormatDottedQuad(loopback), "127.0.0.1");
  EXPECT_EQ(ParseDottedQuad("999.999.999.999"), 0xFFFFFFFFu);
  EXPECT_EQ(ParseDottedQuad("not an address"), 0xFFFFFFFFu);
  EXPECT_STREQ(FormatDottedQuad(0xFFFFFFFFu), "255.255.255.255");
  EXPECT_EQ(NetworkToHost16(HostToNetwork16(15000)), 15000);
}

TEST(Platform, LooksUpNamesFromTheHostsFileOnly) {
  ASSERT_EQ(SocketStartup(), 0);  // Winsock resolves nothing before it is started
  std::uint32_t address = 0;
  EXPECT_TRUE(LookUpHost("localhost", &address));
  EXPECT_STREQ(FormatDottedQuad(address), "127.0.0.1");
  EXPECT_FALSE(LookUpHost("999.999.999.999", &address));
  EXPECT_EQ(SocketCleanup(), 0);
}

TEST(Platform, SocketsNeedTheSocketLibraryStarted) {
  EXPECT_EQ(OpenUdpSocket(), kInvalidSocket);
  EXPECT_EQ(LastSocketError(), kErrorNotInitialised);
  ASSERT_EQ(SocketStartup(), 0);
  const SocketHandle socket = OpenUdpSocket();
  EXPECT_NE(socket, kInvalidSocket);
  CloseSocket(socket);
  EXPECT_EQ(SocketCleanup(), 0);
}

TEST(Platform, TickCountAdvancesAcrossASleep) {
  const std::uint32_t before = TickCount();
  SleepAlertable(20);
  const std::uint32_t elapsed = TickCount() - before;
  EXPECT_GE(elapsed, 15u);
  EXPECT_LT(elapsed, 5000u);
}

TEST(Platform, WallClockCountsMicrosecondsSince1970) {
  using std::chrono::duration_cast;
  using std::chrono::microseconds;
  using std::chrono::system_clock;
  const auto before = duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
  const std::uint64_t now = WallClockMicroseconds();
  const auto after = duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
  // Two clocks of the same time, read a moment apart; a second of slack.
  EXPECT_GE(now + 1000000, static_cast<std::uint64_t>(before));
  EXPECT_LE(now, static_cast<std::uint64_t>(after) + 1000000);
}

}  // namespace
}  // namespace tessard::platform
