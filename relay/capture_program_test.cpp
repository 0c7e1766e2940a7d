// The capture as a user gets it from the real relay: every datagram both
// pairs carried, in order, with true addresses, directions, time stamps and
// the two events, game payloads decrypted; the text log and the console
// as they were, but for the capture's one console line.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "testing/capture_program_fixture.h"

namespace tessard::testing {
namespace {

// The relay's clock and ours are the same wall clock; a little slack for
// a coarse one.
constexpr std::uint64_t kClockSlackUs = 20000;

// One line on standard error, starting and ending so; the reason between
// is the system's own words.
void ExpectOneLine(const std::string& errors, const std::string& start, const std::string& end) {
  EXPECT_EQ(errors.rfind(start, 0), 0u) << errors;
  ASSERT_GT(errors.size(), start.size() + end.size()) << "a reason is given: " << errors;
  EXPECT_EQ(errors.substr(errors.size() - end.size()), end) << errors;
  EXPECT_EQ(errors.find('\n'), errors.size() - 1) << "one line: " << errors;
}

TEST_F(CaptureProgramTest, RecordsEveryDatagramTakenAsItWasCarried) {
  ASSERT_NO_FATAL_FAILURE(StartWithCapture());
  ASSERT_NO_FATAL_FAILURE(CarrySession());

  // A second relay on the same ports cannot start, and must not empty the
  // capture the first one is writing.
  ChildProcess second;
  ASSERT_TRUE(second.Start(RelayExecutable(), relay.directory.string(),
                           (relay.directory / "console-2.txt").string(),
                           (relay.directory / "errors-2.txt").string()));
  EXPECT_EQ(second.WaitForExit(10000), 1);
  ASSERT_NO_FATAL_FAILURE(CarryAux(relay.clientAux, relay.serverAux, "after the second relay"));

  ASSERT_EQ(relay.StopByKey(), 0);
  EXPECT_EQ(relay.Errors(), "");
  EXPECT_EQ(relay.Console(), ExpectedConsole());
  EXPECT_EQ(relay.Log(), log.FileText());

  std::vector<CaptureRecord> records = Recorded();
  ASSERT_EQ(records.size(), expected.size());
  for (std::size_t i = 0; i < records.size(); ++i) {
    EXPECT_GE(records[i].time + kClockSlackUs, sentTimes[i]) << "record " << i;
    EXPECT_LE(records[i].time, takenBy[i] + kClockSlackUs) << "record " << i;
    if (i > 0) {
      EXPECT_GE(records[i].time, records[i - 1].time) << "record " << i;
    }
    records[i].time = 0;
    EXPECT_EQ(records[i], expected[i])
        << "record " << i << " from " << records[i].source << " to " << records[i].destination;
  }
}

TEST_F(CaptureProgramTest, ACaptureThatCannotBeCreatedIsToldAndRelayingGoesOn) {
  ASSERT_TRUE(relay.StartRouted("Capture=no such directory/game.pcapng\r\n"));
  const std::string hello = std::string("\x0E") + "still carried";
  ASSERT_NO_FATAL_FAILURE(CarryGame(relay.clientGame, relay.serverGame, hello, hello));
  EXPECT_EQ(relay.StopByKey(), 1);

  ExpectOneLine(relay.Errors(), "tessard: cannot open capture file no such directory/game.pcapng: ",
                "; relaying without a capture\n");
  EXPECT_EQ(relay.Log(), log.FileText());
  EXPECT_FALSE(std::filesystem::exists(relay.directory / "no such directory"));
}

TEST_F(CaptureProgramTest, ACaptureThatCannotBeWrittenIsToldOnceAndRelayingGoesOn) {
  ASSERT_TRUE(relay.StartRouted("Capture=/dev/full\r\n"));
  if (relay.Errors().find("cannot open capture file") != std::string::npos) {
    relay.StopByKey();
    GTEST_SKIP() << "this system has no /dev/full to open: " << relay.Errors();
  }
  for (int i = 0; i < 5; ++i) {
    const std::string bytes = std::string("\x0E") + std::to_string(i);
    ASSERT_NO_FATAL_FAILURE(CarryGame(relay.clientGame, relay.serverGame, bytes, bytes));
    ASSERT_NO_FATAL_FAILURE(CarryAux(relay.serverAux, relay.clientAux, bytes));
  }
  EXPECT_EQ(relay.StopByKey(), 1);
  ExpectOneLine(relay.Errors(),
                "tessard: cannot write capture file /dev/full: ", "; nothing more is captured\n");
  EXPECT_EQ(relay.Log(), log.FileText());
}

TEST_F(CaptureProgramTest, AnEmptyCaptureKeyMeansNoCaptureAndTheUsualConsole) {
  ASSERT_TRUE(relay.StartRouted("Capture=\r\n"));
  EXPECT_EQ(relay.StopByKey(), 0);
  std::string console = ExpectedConsole();
  console.erase(console.find("Capture file open"));
  EXPECT_EQ(relay.Console(), console);
  EXPECT_EQ(relay.Errors(), "");
  for (const auto& entry : std::filesystem::directory_iterator(relay.directory)) {
    EXPECT_NE(entry.path().extension(), ".pcapng") << entry.path();
  }
}

}  // namespace
}  // namespace tessard::testing
