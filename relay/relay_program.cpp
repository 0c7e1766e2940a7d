#include "relay/relay_program.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>

#include "log/log_stream.h"
#include "net/net_startup.h"
#include "net/udp_endpoint.h"
#include "platform/platform.h"
#include "relay/game_traffic.h"
#include "relay/relay_loop.h"
#include "relay/relay_settings.h"
#include "relay/socket_error_text.h"
#include "relay/traffic_capture.h"

namespace tessard {
namespace {

// Standard error is never redirected, so these lines reach the console
// even after standard output has become the log.
[[gnu::format(printf, 1, 2)]] void ReportProblem(const char* format, ...) {
  std::fflush(stdout);
  std::va_list arguments;
  va_start(arguments, format);
  std::fputs("tessard: ", stderr);
  std::vfprintf(stderr, format, arguments);
  std::fputc('\n', stderr);
  va_end(arguments);
  std::fflush(stderr);
}

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

void ReportLogFailure(const char* reason) {
  ReportProblem("cannot write log file %s: %s; nothing more is logged", relaySettings.logPath,
                reason);
}

// False when the log cannot be had; relaying goes on all the same.
bool OpenLog() {
  char reason[256];
  if (!platform::ReopenStandardOutput(relaySettings.logPath, reason, sizeof(reason))) {
    ReportProblem("cannot open log file %s: %s; relaying without a log", relaySettings.logPath,
                  reason);
    return false;
  }
  SetLogFailureHandler(ReportLogFailure);
  return true;
}

void ReportCaptureFailure(const char* reason) {
  ReportProblem("cannot write capture file %s: %s; nothing more is captured",
                relaySettings.capturePath, reason);
}

// A capture that cannot be created is told here and makes the run fail
// when the capture is closed; relaying goes on without it.
void OpenCapture(TrafficCapture& capture) {
  if (relaySettings.capturePath[0] == '\0') return;
  if (!capture.Open(relaySettings.capturePath, ReportCaptureFailure)) {
    ReportProblem("cannot open capture file %s: %s; relaying without a capture",
                  relaySettings.capturePath, capture.Reason());
  }
}

}  // namespace

int RunRelay() {
  platform::StartKeyboardWatch();
  platform::InstallStopHandlers();

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
  const bool logOpen = OpenLog();
  TrafficCapture capture;
  OpenCapture(capture);

  RelayLoop(gameEndpoint, auxEndpoint, capture.IsOpen() ? &capture : nullptr);

  NetCleanup();
  FinishInspection();
  const bool captureWhole = capture.Close();
  auxEndpoint.Close();
  gameEndpoint.Close();
  platform::StopKeyboardWatch();
  // A log or a capture the user asked for and did not get in full is a
  // failed run.
  return logOpen && !LogOutputFailed() && captureWhole ? 0 : 1;
}

}  // namespace tessard
