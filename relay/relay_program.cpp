#include "relay/relay_program.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "net/net_startup.h"
#include "net/udp_endpoint.h"
#include "platform/platform.h"
#include "relay/extcap.h"
#include "relay/game_traffic.h"
#include "relay/problem_report.h"
#include "relay/relay_loop.h"
#include "relay/relay_outputs.h"
#include "relay/relay_settings.h"
#include "relay/socket_error_text.h"

namespace tessard {
namespace {

bool OpenEndpoint(UdpEndpoint& endpoint, std::uint16_t port, const char* name) {
  const std::int32_t result = endpoint.Open(port);
  if (!endpoint.IsBound()) {
    ReportProblem("cannot open %s port %d: %s", name, static_cast<int>(port),
                  DescribeSocketError(result).c_str());
    return false;
  }
  // Port 0 lets the system choose; the console keeps saying 0, so the user
  // learns the real port here.
  if (port == 0) {
    ReportProblem("%s port 0: the system chose port %d", name,
                  static_cast<int>(endpoint.LocalPort()));
  }
  return true;
}

bool ReportRefusedSettingsPath(const SettingsOutcome& outcome) {
  switch (outcome.pathProblem) {
    case SettingsPathProblem::kNone:
      return false;
    case SettingsPathProblem::kDirectoryTooLong:
      ReportProblem(
          "the current directory is too long: the path of TESSARD.INI in it must fit in %d "
          "characters",
          static_cast<int>(kSettingsTextSize - 1));
      return true;
    case SettingsPathProblem::kDirectoryUnreadable:
      ReportProblem("cannot read the current directory, where TESSARD.INI is looked for: %s",
                    outcome.reason);
      return true;
  }
  return true;
}

// Addresses that parse but can never answer as a server: the relay still
// uses them as asked, and says why nothing good will come of it.
void WarnOfUnusableServer(const SettingsOutcome& outcome) {
  if (!outcome.hostResolved) {
    ReportProblem("cannot resolve server host \"%s\"; sending to 255.255.255.255",
                  outcome.serverHost);
  } else if (relaySettings.serverAddress == 0) {
    ReportProblem(
        "server address 0.0.0.0 names no host: datagrams sent there reach this machine, and "
        "their answers would be taken for a new client's");
  } else if (relaySettings.serverAddress == 0xFFFFFFFF) {
    ReportProblem(
        "server address 255.255.255.255 is the broadcast address: no datagram can be sent "
        "there");
  }
}

void AnnounceRoute(const SettingsOutcome& outcome) {
  std::printf(".  Done.\n\n");
  std::printf("Mapping route to host %s:%i\n", serverGameAddress.FormatAddress(),
              static_cast<int>(serverGameAddress.HostPort()));
  std::printf("Ready to rock on port %i!\n\n", static_cast<int>(relaySettings.listenPort));
  std::printf("Log file open: %s\n", relaySettings.logPath);
  if (relaySettings.capturePath[0] != '\0') {
    std::printf("Capture file open: %s\n", relaySettings.capturePath);
  }
  if (outcome.fileUnreadable) {
    ReportProblem("cannot read settings file %s: %s; using the defaults",
                  relaySettings.settingsPath, outcome.reason);
  }
  WarnOfUnusableServer(outcome);
}

// The options of Wireshark's dialog as the relay's settings; false, told,
// when one cannot be used.
bool TakeExtcapOptions(const ExtcapOptions& options) {
  const struct {
    const std::string& text;
    char* into;
    const char* what;
  } paths[] = {{options.logFile, relaySettings.logPath, "log file"},
               {options.fifo, relaySettings.capturePath, "capture pipe"}};
  for (const auto& path : paths) {
    if (path.text.size() >= kSettingsTextSize) {
      ReportProblem("the %s's path is longer than %d characters", path.what,
                    static_cast<int>(kSettingsTextSize - 1));
      return false;
    }
    std::snprintf(path.into, kSettingsTextSize, "%s", path.text.c_str());
  }
  relaySettings.settingsPath[0] = '\0';
  relaySettings.listenPort = options.listenPort;
  relaySettings.serverPort = options.serverPort;
  bool resolved = false;
  relaySettings.serverAddress = ResolveHost(options.serverAddress.c_str(), &resolved);
  if (!resolved) {
    ReportProblem("cannot resolve server host \"%s\"", options.serverAddress.c_str());
    return false;
  }
  if (relaySettings.serverAddress == 0 || relaySettings.serverAddress == 0xFFFFFFFF) {
    ReportProblem("server address %s cannot be a server",
                  platform::FormatDottedQuad(relaySettings.serverAddress));
    return false;
  }
  return true;
}

// After the loop: the sockets' library let go, the inspection finished,
// the outputs closed and the endpoints after them. Returns whether every
// output the user asked for is whole.
bool FinishRun(UdpEndpoint& gameEndpoint, UdpEndpoint& auxEndpoint, RelayOutputs& outputs) {
  NetCleanup();
  FinishInspection();
  const bool outputsWhole = outputs.Close();
  auxEndpoint.Close();
  gameEndpoint.Close();
  return outputsWhole;
}

// The relay as Wireshark starts it: its settings from the dialog, no
// console, its capture into Wireshark's pipe. Wireshark ends it by a stop
// signal, or on Windows by ending the process without notice, so nothing
// it has taken waits in memory past the pass that took it.
int RunExtcapCapture(const ExtcapOptions& options) {
  // Long enough for a busy machine to start Wireshark's reader.
  constexpr std::uint32_t kReaderWaitMs = 30000;
  platform::InstallStopHandlers();
  platform::TreatOutputSignalsAsErrors();
  NetStartup();
  if (!TakeExtcapOptions(options)) {
    NetCleanup();
    return 1;
  }
  serverGameAddress.Set(relaySettings.serverAddress, relaySettings.serverPort);
  serverAuxAddress.Set(relaySettings.serverAddress, AuxiliaryPort(relaySettings.serverPort));
  UdpEndpoint gameEndpoint;
  UdpEndpoint auxEndpoint;
  RelayOutputs outputs;
  if (!OpenEndpoint(gameEndpoint, relaySettings.listenPort, "game") ||
      !OpenEndpoint(auxEndpoint, AuxiliaryPort(relaySettings.listenPort), "auxiliary") ||
      !outputs.OpenEveryOne(kReaderWaitMs)) {
    auxEndpoint.Close();
    gameEndpoint.Close();
    NetCleanup();
    return 1;
  }

  LoopOptions loop;
  loop.keyboard = false;  // Wireshark's console is hidden, its input closed
  loop.writeLogEachPass = true;
  loop.endWithCapture = true;
  RelayLoop(gameEndpoint, auxEndpoint, outputs.Capture(), loop);

  return FinishRun(gameEndpoint, auxEndpoint, outputs) ? 0 : 1;
}

}  // namespace

int RunProgram(int argc, char** argv) {
  if (argc <= 1) return RunRelay();
  const ExtcapCall call = ParseExtcapArguments(argc - 1, argv + 1);
  if (!call.error.empty()) {
    ReportProblem("%s", call.error.c_str());
    return 1;
  }
  if (call.request == ExtcapRequest::kCapture) return RunExtcapCapture(call.options);
  AnswerExtcapQuestion(call.request, stdout);
  return 0;
}

int RunRelay() {
  platform::StartKeyboardWatch();
  platform::InstallStopHandlers();
  platform::TreatOutputSignalsAsErrors();

  std::printf("Packet-logging Proxy Server (Build 1)\n");
  std::printf("Loading settings.");
  NetStartup();
  std::printf(".");
  const SettingsOutcome outcome = LoadSettings();
  if (outcome.pathProblem != SettingsPathProblem::kNone) {
    std::printf("\n");
    ReportRefusedSettingsPath(outcome);
    NetCleanup();
    return 1;
  }
  serverGameAddress.Set(relaySettings.serverAddress, relaySettings.serverPort);
  serverAuxAddress.Set(relaySettings.serverAddress, AuxiliaryPort(relaySettings.serverPort));
  AnnounceRoute(outcome);
  if (OutputNamesTheSettingsFile()) {
    NetCleanup();
    return 1;
  }

  // The endpoints are bound before the log is opened: a relay that cannot
  // start must not empty the log of one that is running.
  UdpEndpoint gameEndpoint;
  UdpEndpoint auxEndpoint;
  const auto auxPort = AuxiliaryPort(relaySettings.listenPort);
  if (!OpenEndpoint(gameEndpoint, relaySettings.listenPort, "game")) {
    NetCleanup();
    return 1;
  }
  OpenEndpoint(auxEndpoint, auxPort, "auxiliary");  // the game pair is still worth carrying
  RelayOutputs outputs;
  if (!outputs.Open()) {
    NetCleanup();
    return 1;
  }

  RelayLoop(gameEndpoint, auxEndpoint, outputs.Capture());

  const bool outputsWhole = FinishRun(gameEndpoint, auxEndpoint, outputs);
  platform::StopKeyboardWatch();
  // A log or a capture the user asked for and did not get in full is a
  // failed run.
  return outputsWhole ? 0 : 1;
}

}  // namespace tessard
