#include "platform/output_writer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/platform.h"
#include "testing/fake_output.h"

namespace tessard {
namespace {

struct Told {
  std::string reason;
  bool endMayBeTorn;
  bool readerLeft = false;
  bool operator==(const Told&) const = default;
};
std::vector<Told> told;

void Remember(const char* reason, bool endMayBeTorn, bool readerLeft) {
  told.push_back({reason, endMayBeTorn, readerLeft});
}

struct Piece {
  std::string bytes;
  std::uint32_t completeLength;  // how many of its first bytes end whole lines
};

// Lines written in pieces, as the log writes them: a piece may end inside
// a line, and the next one finishes it.
const std::vector<Piece> kPieces = {{"one\ntw", 4}, {"o\nthr", 2}, {"ee\n", 3}};

constexpr std::size_t kAny = std::string::npos;
const char kFull[] = "No space left on device";
const char kIo[] = "Input/output error";

TEST(OutputWriter, AFailingOutputKeepsACleanPrefixAndIsToldOnce) {
  const struct {
    const char* name;
    std::size_t room, perWrite;
    bool cutBackFails, closeFails;
    std::string file;
    std::vector<Told> told;
  } cases[] = {
      {"every write taken whole", kAny, kAny, false, false, "one\ntwo\nthree\n", {}},
      {"short writes that go on taking", kAny, 2, false, false, "one\ntwo\nthree\n", {}},
      {"a write that takes nothing", 6, kAny, false, false, "one\n", {{kFull, false}}},
      {"a short write, then a failed one", 9, kAny, false, false, "one\ntwo\n", {{kFull, false}}},
      {"a failed cut-back", 9, kAny, true, false, "one\ntwo\nt", {{kFull, true}}},
      {"a failed close after a failed write", 9, kAny, false, true, "one\ntwo\n", {{kFull, false}}},
      {"a failed close alone", kAny, kAny, false, true, "one\ntwo\nthree\n", {{kIo, false}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const bool whole = c.told.empty();
    testing::FakeOutput output;
    output.room = c.room;
    output.perWrite = c.perWrite;
    output.cutBackFails = c.cutBackFails;
    output.closeFails = c.closeFails;
    told.clear();
    OutputWriter writer;
    writer.Start(&output);
    writer.SetFailureHandler(Remember);

    bool failedOnce = false;
    for (const Piece& piece : kPieces) {
      const bool written = writer.Write(
          piece.bytes.data(), static_cast<std::uint32_t>(piece.bytes.size()), piece.completeLength);
      if (failedOnce) {
        EXPECT_FALSE(written) << "nothing is written after a failure";
      }
      failedOnce = failedOnce || !written;
      // Room that comes back must not let a later piece in.
      if (failedOnce) output.room = std::string::npos;
    }
    const int writesBeforeClose = output.writes;
    EXPECT_EQ(writer.Close(), whole);
    EXPECT_EQ(writer.Failed(), !whole);
    EXPECT_EQ(output.file, c.file);
    EXPECT_EQ(told, c.told);
    EXPECT_EQ(output.closes, 1);
    EXPECT_EQ(output.writes, writesBeforeClose);
    EXPECT_FALSE(writer.Write("x\n", 2, 2));
    EXPECT_EQ(writer.Close(), whole) << "a second close changes nothing";
    EXPECT_EQ(told.size(), c.told.size());
  }
}

// A pipe of 16 KiB whose reader takes 4 KiB every 50 ms, or nothing, or
// drains it but idles 200 ms a second; the log writes out 64 KiB at once,
// the capture writes records of 600 bytes 2 ms apart (500 datagrams a
// second) for 4 s, unless the output is given up first.
TEST(OutputWriter, AReaderThatFallsBehindHoldsTheWriterForOneDeadlineAtMost) {
  const std::string slow = "its reader took too little for 250 ms";
  const std::string stalled = "its reader took nothing for 250 ms";
  const struct {
    const char* name;
    std::size_t pieceSize;
    std::size_t readerTakes;
    std::uint32_t readerIdleMs;
    std::vector<Told> told;
  } cases[] = {
      {"the log, a slow reader", 65536, 4096, 0, {{slow, true}}},
      {"the log, a stalled reader", 65536, 0, 0, {{stalled, true}}},
      {"capture records, a slow reader", 600, 4096, 0, {{slow, false}}},
      {"capture records, a stalled reader", 600, 0, 0, {{stalled, false}}},
      {"capture records, a reader that idles now and then", 600, 16384, 200, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    testing::FakeOutput output;
    output.pipeSize = 16384;
    output.cutBackFails = true;
    output.readerTakes = c.readerTakes;
    output.readerIdleMs = c.readerIdleMs;
    output.readerCycleMs = 1000;
    told.clear();
    OutputWriter writer(&output);
    writer.SetFailureHandler(Remember);
    const std::string piece = std::string(c.pieceSize - 1, 'x') + "\n";
    const auto size = static_cast<std::uint32_t>(c.pieceSize);
    std::string sent;
    for (std::size_t at = 0; at < 1200000 && writer.Write(piece.data(), size, size);
         at += c.pieceSize, output.now += 2) {
      sent += piece;
    }
    EXPECT_EQ(told, c.told);
    if (writer.Failed()) {
      EXPECT_LE(output.waitedMs, platform::kOutputWaitMs) << "held for one deadline at most";
    } else {
      EXPECT_GT(output.waitedMs, platform::kOutputWaitMs) << "waits far apart are each forgiven";
    }
    if (c.pieceSize < 4096) {
      EXPECT_EQ(output.file, sent) << "records go in whole";
    }
  }
}

}  // namespace
}  // namespace tessard
