#include "log/log_stream.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "log/packet_log.h"

namespace tessard {
namespace {

// An output that takes what it is given until its room runs out, then
// keeps what fitted and fails, as a filling disk does; room may come back.
struct FakeDisk {
  std::string file;
  std::size_t room = std::string::npos;
  int calls = 0;
  std::vector<std::string> failures;
};
FakeDisk disk;

bool WriteToDisk(const char* bytes, std::uint32_t length, char* reason, std::uint32_t reasonSize) {
  ++disk.calls;
  const std::size_t fits = length < disk.room ? length : disk.room;
  disk.file.append(bytes, fits);
  if (disk.room != std::string::npos) disk.room -= fits;
  if (fits == length) return true;
  std::snprintf(reason, reasonSize, "No space left on device");
  return false;
}

void RememberFailure(const char* reason) { disk.failures.emplace_back(reason); }

class LogStreamTest : public ::testing::Test {
 protected:
  void SetUp() override {
    disk = FakeDisk{};
    FlushLog();
    SetLogOutput(WriteToDisk);
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
  EXPECT_EQ(disk.calls, 0) << "pieces stay in the store until it is written out";
  FlushLog();
  EXPECT_EQ(disk.file, "c2s 0000  \r\na\r\nb\r\n\r\nc");
  EXPECT_EQ(disk.calls, 1);
  FlushLog();
  EXPECT_EQ(disk.calls, 1) << "an empty write-out writes nothing";

  // The thousandth piece writes the whole store out at once.
  for (int i = 0; i < PacketLog::kSlotCount; ++i) LogLine("x\n");
  EXPECT_EQ(disk.calls, 2);
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
  EXPECT_GT(disk.calls, 1);
  EXPECT_EQ(disk.file, expected + longText);
}

TEST_F(LogStreamTest, AFailedWriteIsToldOnceAndTheFileStaysACleanBeginning) {
  disk.room = 10;
  LogLine("0123456\n");
  LogLine("789\n");
  FlushLog();
  EXPECT_TRUE(LogOutputFailed());
  EXPECT_EQ(disk.file, "0123456\r\n7");
  EXPECT_EQ(disk.failures, std::vector<std::string>{"No space left on device"});

  // Room comes back: nothing more is written, so no row resumes mid-way.
  disk.room = std::string::npos;
  const int callsAtFailure = disk.calls;
  for (int i = 0; i < 2 * PacketLog::kSlotCount; ++i) LogLine("later\n");
  FlushLog();
  EXPECT_FALSE(WriteOutLogText());
  EXPECT_EQ(disk.calls, callsAtFailure);
  EXPECT_EQ(disk.file, "0123456\r\n7");
  EXPECT_EQ(disk.failures.size(), 1u);
}

}  // namespace
}  // namespace tessard
