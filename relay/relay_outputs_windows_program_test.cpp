// The real relay's outputs into Windows named pipes, each made as Wireshark
// makes its own: one instance, created by the reader, which then waits on
// it. Only the Windows build compiles this.
#define WIN32_LEAN_AND_MEAN
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <string>
#include <thread>

#include "testing/capture_records.h"
#include "testing/relay_outputs_fixture.h"

namespace tessard::testing {
namespace {

// A one-instance inbound pipe with a small buffer, so that a reader that
// stops reading is soon found out.
class PipeReader {
 public:
  explicit PipeReader(const std::string& name)
      : path("\\\\.\\pipe\\tessard-test-" + std::to_string(GetCurrentProcessId()) + "-" + name) {
    pipe = CreateNamedPipeA(path.c_str(), PIPE_ACCESS_INBOUND, PIPE_TYPE_BYTE | PIPE_WAIT, 1, 4096,
                            4096, 0, nullptr);
  }
  ~PipeReader() { Leave(); }

  bool Made() const { return pipe != INVALID_HANDLE_VALUE; }

  // Everything the pipe holds now, without waiting for more.
  std::string Drain() {
    std::string bytes;
    char chunk[4096];
    for (DWORD waiting = 0, got = 0;
         PeekNamedPipe(pipe, nullptr, 0, nullptr, &waiting, nullptr) && waiting > 0 &&
         ReadFile(pipe, chunk, sizeof(chunk), &got, nullptr) && got > 0;) {
      bytes.append(chunk, got);
    }
    return bytes;
  }

  // Everything until the writer closes its end (blocking).
  std::string ReadToEnd() {
    std::string bytes;
    char chunk[4096];
    for (DWORD got = 0; ReadFile(pipe, chunk, sizeof(chunk), &got, nullptr);) {
      bytes.append(chunk, got);
    }
    return bytes;
  }

  void Leave() {
    if (pipe == INVALID_HANDLE_VALUE) return;
    CloseHandle(pipe);
    pipe = INVALID_HANDLE_VALUE;
  }

  const std::string path;

 private:
  HANDLE pipe = INVALID_HANDLE_VALUE;
};

// Both outputs into pipes, each opened once. A capture reader that stops
// reading, or leaves, ends the capture with one line; the relay goes on
// carrying, is never held up, and the log's reader gets all of the log.
TEST_F(RelayOutputsTest, ANamedPipeReaderThatStopsOrLeavesDoesNotHoldTheRelay) {
  const struct {
    const char* name;
    bool leaves;
    const char* told;
  } cases[] = {
      {"stops", false, "its reader took nothing for 250 ms; nothing more is captured\n"},
      {"leaves", true, "Broken pipe; the capture starts again when a reader opens it\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    relay.relay.Kill();
    log = ExpectedLog();
    PipeReader logReader(std::string("log-") + c.name);
    PipeReader reader(c.name);
    ASSERT_TRUE(logReader.Made() && reader.Made());
    ASSERT_TRUE(relay.StartRouted("Log=" + logReader.path + "\r\nCapture=" + reader.path + "\r\n"))
        << relay.Errors();
    // The log comes at the stop, larger than the pipe holds: read as it comes.
    std::string logText;
    std::thread logReading([&] { logText = logReader.ReadToEnd(); });
    EXPECT_TRUE(CarryGame(2)) << relay.Errors();
    if (c.leaves) reader.Leave();
    EXPECT_TRUE(CarryGame(16, 520)) << relay.Errors();
    EXPECT_EQ(relay.ErrorsOnceTheyMention("\n"),
              "tessard: cannot write capture file " + reader.path + ": " + c.told);
    EXPECT_TRUE(CarryGame(4)) << relay.Errors();
    const auto stopAt = std::chrono::steady_clock::now();
    EXPECT_EQ(relay.StopByKey(), 1);
    EXPECT_LT(std::chrono::steady_clock::now() - stopAt, std::chrono::seconds(3));
    logReading.join();
    EXPECT_EQ(relay.Errors(), "tessard: cannot write capture file " + reader.path + ": " + c.told)
        << "told once";
    EXPECT_EQ(logText, log.FileText());
    if (!c.leaves) {
      EXPECT_EQ(ReadCapture(reader.Drain()).error, "") << "whole records only";
    }
  }
}

// Wireshark on Windows ends an extcap without notice (TerminateProcess):
// by then every datagram taken is in the log file and in the pipe. Its
// reader leaving ends the relay too.
TEST_F(RelayOutputsTest, AnExtcapCaptureLosesNothingWhenEndedWithoutNotice) {
  for (const bool killed : {true, false}) {
    SCOPED_TRACE(killed ? "ended without notice" : "the reader leaves");
    log = ExpectedLog();
    PipeReader reader(killed ? "killed" : "left");
    ASSERT_TRUE(reader.Made());
    ASSERT_TRUE(relay.relay.Start(
        {RelayExecutable(), "--capture", "--extcap-interface", "tessard", "--fifo", reader.path,
         "--listen-port", std::to_string(relay.relayPort), "--server-port",
         std::to_string(relay.serverPort), "--log-file", "extcap.txt"},
        relay.directory.string(), (relay.directory / "console.txt").string(),
        (relay.directory / "errors.txt").string()));
    ASSERT_TRUE(relay.WaitUntilRelaying()) << relay.Errors();
    ASSERT_TRUE(CarryGame(5)) << relay.Errors();
    std::string captured = reader.Drain();
    for (int i = 0; i < 40 && relay.Log("extcap.txt") != log.FileText(); ++i) Sleep(50);
    EXPECT_EQ(relay.Log("extcap.txt"), log.FileText()) << "not held back until the stop";
    if (killed) {
      relay.relay.Kill();
    } else {
      reader.Leave();
      EXPECT_EQ(relay.WaitForExit(), 0) << relay.Errors();
    }
    EXPECT_EQ(relay.Errors(), "");
    EXPECT_EQ(relay.Log("extcap.txt"), log.FileText());
    if (killed) captured += reader.Drain();
    const CaptureContents contents = ReadCapture(captured);
    EXPECT_EQ(contents.error, "");
    EXPECT_GE(contents.records.size(), 6u) << "the probe and five datagrams";
  }
}

}  // namespace
}  // namespace tessard::testing
