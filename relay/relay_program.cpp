#include "relay/relay_program.h"

#include <cstdarg>
#include <cstdint>
#include <cstdio>

#include "net/net_startup.h"
#include "net/udp_endpoint.h"
#include "platform/platform.h"
#include "relay/game_traffic.h"
#include "relay/relay_loop.h"
#include "relay/relay_settings.h"
#include "relay/socket_error_text.h"

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
  if (endpoint.IsBound()) return true;
  ReportProblem("cannot open %s port %d: %s", name, static_cast<int>(port),
                DescribeSocketError(result).c_str());
  return false;
}

void AnnounceRoute(const SettingsOutcome& outcome) {
  std::printf(".  Done.\n\n");
  std::printf("Mapping route to host %s:%i\n", serverGameAddress.FormatAddress(),
              static_cast<int>(serverGameAddress.HostPort()));
  std::printf("Ready to rock on port %i!\n\n", static_cast<int>(relaySettings.listenPort));
  std::printf("Log file open: %s\n", relaySettings.logPath);
  if (!outcome.hostResolved) {
    ReportProblem("cannot resolve server host \"%s\"; sending to 255.255.255.255",
                  outcome.serverHost);
  }
}

void OpenLog() {
  char reason[256];
  if (!platform::ReopenStandardOutput(relaySettings.logPath, reason, sizeof(reason))) {
    ReportProblem("cannot open log file %s: %s; relaying without a log", relaySettings.logPath,
                  reason);
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
  if (!outcome.pathFits) {
    std::printf("\n");
    ReportProblem(
        "the current directory is too long: the path of TESSARD.INI in it must fit in %d "
        "characters",
        static_cast<int>(kSettingsTextSize - 1));
    NetCleanup();
    return 1;
  }
  serverGameAddress.Set(relaySettings.serverAddress, relaySettings.serverPort);
  serverAuxAddress.Set(relaySettings.serverAddress, AuxiliaryPort(relaySettings.serverPort));
  AnnounceRoute(outcome);
  OpenLog();

  UdpEndpoint gameEndpoint;
  UdpEndpoint auxEndpoint;
  const auto auxPort = AuxiliaryPort(relaySettings.listenPort);
  if (!OpenEndpoint(gameEndpoint, relaySettings.listenPort, "game")) {
    NetCleanup();
    FinishInspection();
    return 1;
  }
  OpenEndpoint(auxEndpoint, auxPort, "auxiliary");  // the game pair is still worth carrying

  RelayLoop(gameEndpoint, auxEndpoint);

  NetCleanup();
  FinishInspection();
  std::fflush(stdout);  // the log is safe on disk before anything else can end the process
  auxEndpoint.Close();
  gameEndpoint.Close();
  platform::StopKeyboardWatch();
  return 0;
}

}  // namespace tessard
