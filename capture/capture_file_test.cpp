#include "capture/capture_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "testing/capture_file_fixture.h"

namespace tessard {
namespace {

using testing::CaptureFileTest;
using Bytes = std::vector<std::uint8_t>;

CapturedDatagram Sample(const std::uint8_t* payload, std::size_t length, const char* comment) {
  CapturedDatagram datagram;
  datagram.timestampMicroseconds = 1700000000000000u + length;
  datagram.source = {0x0100007F, 52000};  // the bytes 127.0.0.1 on a little-endian host
  datagram.destination = {0x0100007F, 382};
  datagram.payload = payload;
  datagram.length = length;
  datagram.comment = comment;
  return datagram;
}

Bytes BlockOf(const CapturedDatagram& datagram) {
  Bytes block;
  AppendPacketBlock(datagram, block);
  return block;
}

TEST_F(CaptureFileTest, EachBlockReachesTheFileAsItIsRecorded) {
  const std::string path = PathOf("game.pcapng");
  std::ofstream(path, std::ios::binary) << "an older file, longer than the header, to be emptied "
                                           "when the capture starts over it .....................";
  CaptureFile capture;
  ASSERT_TRUE(capture.Open(path.c_str())) << capture.Reason();
  Bytes expected = CaptureFileHeader();
  EXPECT_EQ(FileBytes(path), expected);

  const std::uint8_t small[] = {0x00, 0x01, 0x10, 0x20, 0x30, 0x40, 0x01, 0x00};
  const std::vector<std::uint8_t> large(520, 0xA5);
  for (const CapturedDatagram& datagram :
       {Sample(small, sizeof(small), "Connection from 127.0.0.1:52000 (proto 1)"),
        Sample(large.data(), large.size(), nullptr), Sample(small, 1, "")}) {
    ASSERT_TRUE(capture.Record(datagram));
    const Bytes block = BlockOf(datagram);
    expected.insert(expected.end(), block.begin(), block.end());
    // Read before the next record and before closing: nothing waits in a
    // buffer of ours.
    EXPECT_EQ(FileBytes(path), expected);
  }
  // Held, the blocks wait for the release and then all arrive, unchanged,
  // and an empty hold writes nothing.
  capture.Hold();
  EXPECT_TRUE(capture.Release());
  capture.Hold();
  const Bytes beforeHold = expected;
  for (const CapturedDatagram& datagram :
       {Sample(large.data(), large.size(), "held"), Sample(small, sizeof(small), nullptr)}) {
    ASSERT_TRUE(capture.Record(datagram));
    const Bytes block = BlockOf(datagram);
    expected.insert(expected.end(), block.begin(), block.end());
  }
  EXPECT_EQ(FileBytes(path), beforeHold);
  EXPECT_TRUE(capture.Release());
  EXPECT_EQ(FileBytes(path), expected);
  EXPECT_TRUE(capture.Close());
  EXPECT_FALSE(capture.Failed());
  EXPECT_STREQ(capture.Reason(), "");
  EXPECT_EQ(FileBytes(path), expected);
  EXPECT_FALSE(capture.Record(Sample(small, 2, nullptr)));  // closed: writes nothing
  EXPECT_EQ(FileBytes(path), expected);
}

TEST_F(CaptureFileTest, TheFirstFailureEndsTheCaptureAndKeepsItsReason) {
  const std::uint8_t byte = 0;
  CaptureFile missing;
  EXPECT_FALSE(missing.Open(PathOf("no such directory/game.pcapng").c_str()));
  EXPECT_FALSE(missing.IsOpen());
  EXPECT_TRUE(missing.Failed());
  EXPECT_STRNE(missing.Reason(), "");
  EXPECT_FALSE(missing.Record(Sample(&byte, 1, nullptr)));

  if (!std::filesystem::exists("/dev/full")) GTEST_SKIP() << "no /dev/full on this system";
  CaptureFile full;
  EXPECT_FALSE(full.Open("/dev/full"));  // created, but the header cannot be written
  EXPECT_TRUE(full.IsOpen());
  const std::string reason = full.Reason();
  EXPECT_NE(reason, "");
  EXPECT_FALSE(full.Record(Sample(&byte, 1, nullptr)));
  EXPECT_EQ(full.Reason(), reason);
  EXPECT_FALSE(full.Close());
  EXPECT_TRUE(full.Failed());
}

}  // namespace
}  // namespace tessard
