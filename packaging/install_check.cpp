// Plays a game client and a game server through an installed relay:
//   tessard_install_check DIRECTORY COMMAND...
// moves the TESSARD.INI in DIRECTORY to free ports (every other line kept as
// it is, line ends too), starts COMMAND in DIRECTORY, carries a key exchange
// and an encrypted datagram each way, stops the relay with a key and
// compares its log with what was carried, decrypted. Exit status 0 when all
// of that held; otherwise a line on standard error says what did not.
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "cipher/session_cipher.h"
#include "log/direction.h"
#include "testing/child_process.h"
#include "testing/loopback.h"
#include "testing/relay_harness.h"
#include "testing/scratch_directory.h"

namespace tessard::testing {
namespace {

// Long enough for wine to create a fresh prefix before the relay starts.
constexpr std::uint32_t kStartTimeoutMs = 120000;

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string Trimmed(const std::string& text) {
  const char* const blanks = " \t\r\n";
  const auto first = text.find_first_not_of(blanks);
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(blanks) - first + 1);
}

struct Settings {
  std::string text;
  std::string logName = "packets.txt";
  bool proxyPort = false;
  bool serverPort = false;
};

// settings with the Port of [Proxy] and of [Server] replaced.
Settings MovedToPorts(const std::string& settings, std::uint16_t relayPort,
                      std::uint16_t serverPort) {
  Settings moved;
  std::string section;
  std::size_t start = 0;
  while (start < settings.size()) {
    std::size_t end = settings.find('\n', start);
    end = end == std::string::npos ? settings.size() : end + 1;
    std::string line = settings.substr(start, end - start);
    start = end;
    const std::string trimmed = Trimmed(line);
    const std::string key = Lower(Trimmed(trimmed.substr(0, trimmed.find('='))));
    const std::string ending = line.substr(line.find_last_not_of("\r\n") + 1);
    if (!trimmed.empty() && trimmed.front() == '[') {
      section = Lower(Trimmed(trimmed.substr(1, trimmed.rfind(']') - 1)));
    } else if (key == "port" && (section == "proxy" || section == "server")) {
      const bool proxy = section == "proxy";
      (proxy ? moved.proxyPort : moved.serverPort) = true;
      line = "Port=" + std::to_string(proxy ? relayPort : serverPort) + ending;
    } else if (key == "log" && section == "proxy") {
      moved.logName = Trimmed(trimmed.substr(trimmed.find('=') + 1));
    }
    moved.text += line;
  }
  return moved;
}

std::string Received(UdpEndpoint& endpoint, std::uint32_t timeoutMs) {
  auto datagram = ReceiveWithin(endpoint, timeoutMs);
  return datagram ? Bytes(*datagram) : "<nothing>";
}

int Fail(const std::string& what, const std::filesystem::path& errors = {}) {
  std::fprintf(stderr, "tessard_install_check: %s\n", what.c_str());
  if (!errors.empty()) {
    std::fprintf(stderr, "the relay's standard error:\n%s\n", ReadWholeFile(errors).c_str());
  }
  return 1;
}

int Run(const std::filesystem::path& directory, const std::vector<std::string>& command) {
  SocketLibraryScope socketLibrary;
  UdpEndpoint serverGame, serverAux, clientGame, clientAux;
  const std::uint16_t serverPort = OpenPortPair(serverGame, serverAux);
  const std::uint16_t relayPort = FindFreePortPair();
  clientGame.Open(0);
  clientAux.Open(0);
  if (serverPort == 0 || relayPort == 0 || !clientGame.IsBound() || !clientAux.IsBound()) {
    return Fail("no free loopback ports");
  }

  const std::filesystem::path settingsPath = directory / "TESSARD.INI";
  const Settings settings = MovedToPorts(ReadWholeFile(settingsPath), relayPort, serverPort);
  if (!settings.proxyPort || !settings.serverPort) {
    return Fail(settingsPath.string() + " has no Port in [Proxy] or in [Server]");
  }
  WriteWholeFile(settingsPath, settings.text);

  const std::filesystem::path errors = directory / "errors.txt";
  ChildProcess relay;
  if (!relay.Start(command, directory.string(), (directory / "console.txt").string(),
                   errors.string())) {
    return Fail("cannot start " + command.front());
  }
  const auto sendTo = [](UdpEndpoint& from, std::uint16_t port, const std::string& bytes) {
    from.SetDestination(LoopbackAddress(), port);
    from.Send(reinterpret_cast<const std::uint8_t*>(bytes.data()),
              static_cast<std::int32_t>(bytes.size()));
  };
  // Relaying once a probe crosses the auxiliary pair.
  bool relaying = false;
  for (std::uint32_t waited = 0; !relaying && waited < kStartTimeoutMs && relay.Running();
       waited += 100) {
    sendTo(clientAux, static_cast<std::uint16_t>(relayPort + 1), "probe");
    relaying = ReceiveWithin(serverAux, 100) != nullptr;
    if (!relaying) relay.WaitForExit(0);  // notes a relay that has ended
  }
  if (!relaying) {
    return Fail(relay.Running() ? "the relay carried nothing" : "the relay ended", errors);
  }

  SessionCipher client;
  SessionCipher server;
  const std::int32_t clientKey = client.GenerateKey(0x2468ACE0u);
  const std::int32_t serverKey = 0x13572468;
  ExpectedLog expected;
  // Sends bytes from one side to the relay's game port; true when the other
  // side received them unchanged. The relay must log them as plain.
  const auto carry = [&](bool up, const std::string& bytes, const std::string& plain) {
    UdpEndpoint& from = up ? clientGame : serverGame;
    UdpEndpoint& to = up ? serverGame : clientGame;
    sendTo(from, relayPort, bytes);
    expected.Dump(up ? Direction::kClientToServer : Direction::kServerToClient, plain);
    return Received(to, kDeliveryTimeoutMs) == bytes;
  };
  const std::string request = KeyRequest(clientKey, 1);
  expected.Line("c2s       Connection from 127.0.0.1:" + std::to_string(clientGame.LocalPort()) +
                " (proto 1)\n");
  if (!carry(true, request, request)) return Fail("the key request was not carried", errors);
  const std::string response = KeyResponse(serverKey);
  expected.Line("s2c       SubSpace decryption enabled.\n");
  if (!carry(false, response, response)) return Fail("the key response was not carried", errors);
  server.clientKey = clientKey;
  server.SetServerKey(serverKey);
  client.SetServerKey(serverKey);
  const std::string up = GamePacket(40, 1);
  const std::string down = GamePacket(33, 2);
  if (!carry(true, Encrypted(client, up), up) || !carry(false, Encrypted(server, down), down)) {
    return Fail("an encrypted datagram was not carried intact", errors);
  }

  relay.WriteToStandardInput("q");
  const int status = relay.WaitForExit(30000);
  if (status != 0) {
    return Fail("the relay did not stop cleanly on a key (status " + std::to_string(status) + ")",
                errors);
  }
  const std::string log = ReadWholeFile(directory / settings.logName);
  if (log != expected.FileText()) {
    return Fail("the log differs from the traffic, decrypted; it holds:\n" + log);
  }
  std::printf("relayed a key exchange and an encrypted datagram each way; log as expected\n");
  return 0;
}

}  // namespace
}  // namespace tessard::testing

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: tessard_install_check DIRECTORY COMMAND...\n");
    return 2;
  }
  return tessard::testing::Run(std::filesystem::absolute(argv[1]),
                               std::vector<std::string>(argv + 2, argv + argc));
}
