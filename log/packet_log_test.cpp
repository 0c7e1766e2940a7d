#include "log/packet_log.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "testing/log_catcher.h"

namespace tessard {
namespace {

using PacketLogTest = testing::LogCatchingTest;

TEST_F(PacketLogTest, FlushWritesPiecesInOrderAndEmptiesTheStore) {
  FlushLog();
  EXPECT_TRUE(Written().empty());

  LogLine("a");
  LogLine("");
  LogLine("bc\n");
  EXPECT_EQ(packetLog.count, 3);
  EXPECT_TRUE(Written().empty());
  EXPECT_EQ(FlushPieces(), (std::vector<std::string>{"a", "", "bc\n"}));
  EXPECT_EQ(packetLog.count, 0);
  EXPECT_TRUE(FlushPieces().empty());
}

TEST_F(PacketLogTest, ThousandthPieceWritesTheStoreOut) {
  for (int i = 0; i < 999; ++i) LogLine(std::to_string(i).c_str());
  EXPECT_TRUE(Written().empty());
  EXPECT_EQ(packetLog.count, 999);

  LogLine("last");
  ASSERT_EQ(Written().size(), 1000u);
  EXPECT_EQ(Written()[0], "0");
  EXPECT_EQ(Written()[998], "998");
  EXPECT_EQ(Written()[999], "last");
  EXPECT_EQ(packetLog.count, 0);

  Written().clear();
  LogLine("next");
  EXPECT_EQ(packetLog.count, 1);
  EXPECT_STREQ(packetLog.slots[0], "next");
  EXPECT_EQ(FlushPieces(), (std::vector<std::string>{"next"}));
}

TEST_F(PacketLogTest, OverlongTextIsCutToItsSlot) {
  std::string longText;
  for (int i = 0; i < 300; ++i) longText += static_cast<char>('a' + i % 26);
  const std::string kept = longText.substr(0, 255);

  packetLog.slots[1][0] = '#';
  LogLine(longText.c_str());
  EXPECT_EQ(std::strlen(packetLog.slots[0]), 255u);
  EXPECT_EQ(packetLog.slots[0], kept);
  EXPECT_EQ(packetLog.slots[1][0], '#');

  LogLine(kept.c_str());
  LogLine(longText.substr(0, 256).c_str());
  EXPECT_EQ(FlushPieces(), (std::vector<std::string>{kept, kept, kept}));

  // The last slot, which has nothing after it inside the store.
  for (int i = 0; i < 999; ++i) LogLine("");
  Written().clear();
  LogLine(longText.c_str());
  ASSERT_EQ(Written().size(), 1000u);
  EXPECT_EQ(Written()[999], kept);
}

TEST_F(PacketLogTest, FormatAppendsOnePieceThroughTheScratchLine) {
  LogFormat("c2s       Connection from %s:%i (proto %i)\n", "127.0.0.1", 5000, 1);
  EXPECT_STREQ(scratchLine, "c2s       Connection from 127.0.0.1:5000 (proto 1)\n");
  LogFormat("s2c       SubSpace decryption enabled.\n");
  LogFormat("%300s", "x");
  const std::vector<std::string> pieces = FlushPieces();
  ASSERT_EQ(pieces.size(), 3u);
  EXPECT_EQ(pieces[0], "c2s       Connection from 127.0.0.1:5000 (proto 1)\n");
  EXPECT_EQ(pieces[1], "s2c       SubSpace decryption enabled.\n");
  EXPECT_EQ(pieces[2], std::string(255, ' '));
}

}  // namespace
}  // namespace tessard
