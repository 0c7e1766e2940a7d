#include "log/log_stream.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "log/packet_log.h"
#include "testing/fake_output.h"

namespace tessard {
namespace {

testing::FakeOutput disk;
std::vector<std::string> failures;

void RememberFailure(const char* reason, bool, bool) { failures.emplace_back(reason); }

class LogStreamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    disk = testing::FakeOutput{};
    failures.clear();
    FlushLog();
    SetLogOutput(&disk);
    SetLogFailureHandler(RememberFailure);
  }
  void TearDown() override {
    SetLogOutput(nullptr);
    SetLogFailureHandler(nullptr);
  }
};

TEST_F(LogStreamTest, EveryLineEndBecomesCrLfAndAWriteOutIsOneWrite) {
  LogLine("c2s 0000  ");
  LogLine("\n");
  LogLine("a\nb\n\nc");
  EXPECT_EQ(disk.writes, 0) << "pieces stay in the store until it is written out";
  FlushLog();
  EXPECT_EQ(disk.file, "c2s 0000  \r\na\r\nb\r\n\r\nc");
  EXPECT_EQ(disk.writes, 1);
  FlushLog();
  EXPECT_EQ(disk.writes, 1) << "an empty write-out writes nothing";

  // The thousandth piece writes the whole store out at once.
  for (int i = 0; i < PacketLog::kSlotCount; ++i) LogLine("x\n");
  EXPECT_EQ(disk.writes, 2);
  EXPECT_EQ(disk.file.size(), 21u + 3u * PacketLog::kSlotCount);
}

TEST_F(LogStreamTest, TextLargerThanTheCollectionArrivesWholeAndInOrder) {
  std::string expected;
  for (int i = 0; i < 300; ++i) {
    // 255 characters, all but the first of them line ends.
    const std::string piece =
        std::string(1, static_cast<char>('a' + i % 26)) + std::string(254, '\n');
    AppendLogText(piece.c_str());
    expected += piece[0];
    for (int j = 0; j < 254; ++j) expected += "\r\n";
  }
  const std::string longText(1000, 'y');
  AppendLogText(longText.c_str());
  EXPECT_TRUE(WriteOutLogText());
  EXPECT_GT(disk.writes, 1);
  EXPECT_EQ(disk.file, expected + longText);
}

TEST_F(LogStreamTest, AFailedWriteIsToldOnceAndTheFileKeepsWholeLinesOnly) {
  // A write-out may end inside a line; the line it began is cut away with
  // the part of the failed write that reached the file.
  LogLine("0123456\n89");
  FlushLog();
  disk.room = 4;
  LogLine("ab\ncd\n");
  FlushLog();
  EXPECT_TRUE(LogOutputFailed());
  EXPECT_EQ(disk.file, "0123456\r\n");
  EXPECT_EQ(failures, std::vector<std::string>{"No space left on device"});

  // Room comes back: nothing more is written, so no line resumes mid-way.
  disk.room = std::string::npos;
  const int writesAtFailure = disk.writes;
  for (int i = 0; i < 2 * PacketLog::kSlotCount; ++i) LogLine("later\n");
  FlushLog();
  EXPECT_FALSE(WriteOutLogText());
  EXPECT_FALSE(CloseLogOutput());
  EXPECT_EQ(disk.writes, writesAtFailure);
  EXPECT_EQ(disk.file, "0123456\r\n");
  EXPECT_EQ(failures.size(), 1u);
}

}  // namespace
}  // namespace tessard
