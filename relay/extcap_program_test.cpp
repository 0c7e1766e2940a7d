// The real relay as Wireshark's extcap folder holds it: its answers to
// Wireshark's questions, and the arguments and options it refuses.
#include <gtest/gtest.h>

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "testing/relay_harness.h"

namespace tessard::testing {
namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t kExitTimeoutMs = 10000;

struct RunResult {
  int status = -1;
  std::string out;
  std::string errors;
};

// Runs tessard with arguments in the harness directory; "{fifo}" and "{log}"
// in them stand for a capture pipe's path and a log's path there, "{taken}"
// for a port that the fake server holds, "{free}" for a free one.
RunResult RunRelay(RelayHarness& relay, const std::vector<std::string>& arguments) {
  std::vector<std::string> command = {RelayExecutable()};
  for (std::string argument : arguments) {
    const std::pair<std::string, std::string> stand[] = {
        {"{fifo}", (relay.directory / "capture.fifo").string()},
        {"{log}", (relay.directory / "log.txt").string()},
        {"{taken}", std::to_string(relay.serverPort)},
        {"{free}", std::to_string(relay.relayPort)}};
    for (const auto& [name, value] : stand) {
      if (const auto at = argument.find(name); at != std::string::npos) {
        argument.replace(at, name.size(), value);
      }
    }
    command.push_back(argument);
  }
  RunResult run;
  if (!relay.relay.Start(command, relay.directory.string(), (relay.directory / "out.txt").string(),
                         (relay.directory / "errors.txt").string())) {
    return run;
  }
  run.status = relay.relay.WaitForExit(kExitTimeoutMs);
  run.out = WithNewlines(ReadWholeFile(relay.directory / "out.txt"));
  run.errors = relay.Errors();
  return run;
}

struct Question {
  const char* name;
  std::vector<std::string> arguments;
  std::string answer;
};

void PrintTo(const Question& question, std::ostream* out) { *out << question.name; }

const std::string kVersionLine = "extcap {version=" TESSARD_VERSION_TEXT "}\n";

class ExtcapQuestionTest : public ::testing::TestWithParam<Question> {};

INSTANTIATE_TEST_SUITE_P(
    Questions, ExtcapQuestionTest,
    ::testing::Values(
        Question{"Interfaces",
                 {"--extcap-interfaces", "--extcap-version=4.0"},
                 kVersionLine +
                     "interface {value=tessard}{display=Tessard relay: decrypted game traffic}\n"},
        Question{"Version", {"--extcap-version"}, kVersionLine}),
    [](const auto& info) { return std::string(info.param.name); });

// Answered at once, and with nothing opened: a settings file naming a log
// is not read, and the relay's default ports are not bound.
TEST_P(ExtcapQuestionTest, IsAnsweredAtOnceWithNothingOpened) {
  RelayHarness relay;
  WriteWholeFile(relay.directory / "TESSARD.INI", "[Proxy]\r\nLog=never.txt\r\n");
  const RunResult run = RunRelay(relay, GetParam().arguments);
  EXPECT_EQ(run.status, 0) << run.errors;
  EXPECT_EQ(run.out, GetParam().answer);
  EXPECT_EQ(run.errors, "");
  EXPECT_FALSE(fs::exists(relay.directory / "never.txt"));
}

struct Refusal {
  const char* name;
  std::vector<std::string> arguments;
  std::string told;
};

void PrintTo(const Refusal& refusal, std::ostream* out) { *out << refusal.name; }

class ExtcapRefusalTest : public ::testing::TestWithParam<Refusal> {};

INSTANTIATE_TEST_SUITE_P(
    Refusals, ExtcapRefusalTest,
    ::testing::Values(
        Refusal{"UnknownArgument",
                {"--port", "15000"},
                "unknown argument \"--port\" (tessard takes Wireshark's extcap calls, or no "
                "argument at all)"},
        Refusal{"NoCall",
                {"--listen-port", "16000"},
                "no extcap call: run tessard without arguments for the relay, or give "
                "--extcap-interfaces, --extcap-dlts, --extcap-config or --capture"},
        Refusal{"TwoCalls",
                {"--extcap-interfaces", "--capture", "--fifo", "{fifo}"},
                "give one of --extcap-interfaces, --extcap-dlts, --extcap-config and --capture"},
        Refusal{"OtherInterface",
                {"--extcap-config", "--extcap-interface", "udpdump"},
                "no extcap interface \"udpdump\": the only one is \"tessard\""},
        Refusal{"CaptureWithoutFifo",
                {"--capture", "--log-file", "{log}"},
                "--capture needs --fifo and the pipe to write the capture into"},
        Refusal{"PortZero",
                {"--capture", "--fifo", "{fifo}", "--listen-port", "0"},
                "--listen-port takes a port from 1 to 65535, not \"0\""},
        Refusal{"PortNotANumber",
                {"--capture", "--fifo", "{fifo}", "--server-port", "+382"},
                "--server-port takes a port from 1 to 65535, not \"+382\""},
        Refusal{"UnresolvedServer",
                {"--capture", "--fifo", "{fifo}", "--log-file", "{log}", "--server-address",
                 "999.999.999.999"},
                "cannot resolve server host \"999.999.999.999\""},
        Refusal{
            "NoServerAtAll",
            {"--capture", "--fifo", "{fifo}", "--log-file", "{log}", "--server-address", "0.0.0.0"},
            "server address 0.0.0.0 cannot be a server"},
        // Values that pass the dialog's checks but that the relay cannot use.
        Refusal{
            "PortTaken",
            {"--capture", "--fifo", "{fifo}", "--log-file", "{log}", "--listen-port", "{taken}"},
            "cannot open game port "},
        Refusal{"LogCannotBeOpened",
                {"--capture", "--fifo", "{fifo}", "--listen-port", "{free}", "--log-file",
                 "no such folder/log.txt"},
                "cannot open log file no such folder/log.txt: "}),
    [](const auto& info) { return std::string(info.param.name); });

// One line, a failure status, and no file created.
TEST_P(ExtcapRefusalTest, IsOneLineAndAFailureWithNothingCreated) {
  RelayHarness relay;
  const RunResult run = RunRelay(relay, GetParam().arguments);
  EXPECT_EQ(run.status, 1);
  const std::string& told = GetParam().told;
  if (told.back() == ' ') {  // the system's words follow
    EXPECT_EQ(run.errors.rfind("tessard: " + told, 0), 0u) << run.errors;
    EXPECT_EQ(run.errors.find('\n'), run.errors.size() - 1) << "one line: " << run.errors;
  } else {
    EXPECT_EQ(run.errors, "tessard: " + told + "\n");
  }
  EXPECT_EQ(run.out, "");
  EXPECT_FALSE(fs::exists(relay.directory / "log.txt"));
  EXPECT_FALSE(fs::exists(relay.directory / "capture.fifo"));
}

}  // namespace
}  // namespace tessard::testing
