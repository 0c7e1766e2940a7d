#include "testing/relay_harness.h"

#include <sstream>

#include "platform/platform.h"
#include "testing/log_catcher.h"
#include "testing/loopback.h"
#include "util/byte_readers.h"

namespace tessard::testing {
namespace {

const std::uint8_t* Data(const std::string& bytes) {
  return reinterpret_cast<const std::uint8_t*>(bytes.data());
}

std::string Little32(std::int32_t value) {
  std::uint8_t bytes[4];
  PutU32(bytes, 0, static_cast<std::uint32_t>(value));
  return std::string(reinterpret_cast<const char*>(bytes), sizeof(bytes));
}

}  // namespace

void ExpectedLog::Dump(Direction direction, const std::string& bytes) {
  text_ += DumpText(direction, Data(bytes), static_cast<std::int32_t>(bytes.size()));
}

std::string ExpectedLog::FileText() const {
  std::string file;
  file.reserve(text_.size() + text_.size() / 8);
  for (const char c : text_) {
    if (c == '\n') file += '\r';
    file += c;
  }
  return file;
}

std::string KeyRequest(std::int32_t key, std::int8_t protocol) {
  return std::string("\x00\x01", 2) + Little32(key) + static_cast<char>(protocol) + '\x00';
}

std::string KeyResponse(std::int32_t key) { return std::string("\x00\x02", 2) + Little32(key); }

std::string GamePacket(std::size_t size, unsigned seed) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) {
    bytes[i] = static_cast<char>((seed * 2654435761u + i * 40503u) >> 7);
  }
  if (size >= 2) bytes[0] = (size % 2 == 0) ? '\x00' : '\x0E';
  if (size >= 2 && bytes[0] == '\x00') bytes[1] = '\x03';
  return bytes;
}

std::string Encrypted(const SessionCipher& cipher, std::string bytes) {
  cipher.Encrypt(reinterpret_cast<std::uint8_t*>(bytes.data()),
                 static_cast<std::uint32_t>(bytes.size()));
  return bytes;
}

std::string Decrypted(const SessionCipher& cipher, std::string bytes) {
  cipher.Decrypt(reinterpret_cast<std::uint8_t*>(bytes.data()),
                 static_cast<std::uint32_t>(bytes.size()));
  return bytes;
}

const char* RelayExecutable() { return TESSARD_EXECUTABLE; }

std::string Bytes(const Datagram& datagram) {
  return std::string(reinterpret_cast<const char*>(datagram.bytes.get()),
                     static_cast<std::size_t>(datagram.length));
}

std::string WithNewlines(const std::string& text) {
  std::string lines;
  lines.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    lines += text[i];
  }
  return lines;
}

RelayHarness::RelayHarness() {
  serverPort = OpenPortPair(serverGame, serverAux);
  relayPort = FindFreePortPair();
  OpenWide(clientGame, 0);
  OpenWide(clientAux, 0);
}

RelayHarness::~RelayHarness() {
  // Before the directory goes: Windows removes no file a running relay holds open.
  relay.Kill();
}

std::string RelayHarness::RoutedSettings(const std::string& extraProxy,
                                         const std::string& extraServer) const {
  std::ostringstream text;
  text << "[Proxy]\r\nPort=" << relayPort << "\r\n"
       << extraProxy << "[Server]\r\nIP=127.0.0.1\r\nPort=" << serverPort << "\r\n"
       << extraServer;
  return text.str();
}

bool RelayHarness::Start(const std::string& settings,
                         const std::filesystem::path& workingDirectory) {
  const std::filesystem::path where = workingDirectory.empty() ? directory : workingDirectory;
  if (!settings.empty()) WriteWholeFile(where / "TESSARD.INI", settings);
  // Emptied here, not only by the child: what an earlier start wrote must
  // not be read as this one's.
  WriteWholeFile(directory / "console.txt", "");
  WriteWholeFile(directory / "errors.txt", "");
  return relay.Start(RelayExecutable(), where.string(), (directory / "console.txt").string(),
                     (directory / "errors.txt").string());
}

bool RelayHarness::StartRouted(const std::string& extraProxy) {
  return RetryOnTakenPorts(
      [&] { return Start(RoutedSettings(extraProxy)) && WaitUntilRelaying(); });
}

bool RelayHarness::WaitUntilRelaying() {
  for (int attempt = 0; attempt < 100 && relay.Running(); ++attempt) {
    SendToRelay(clientAux, static_cast<std::uint16_t>(relayPort + 1), "probe");
    if (auto probe = ReceiveWithin(serverAux, 50)) return true;
    if (RelayPortsTaken()) return false;
  }
  return false;
}

bool RelayHarness::RetryOnTakenPorts(const std::function<bool()>& start) {
  constexpr int kAttempts = 5;
  bool startedAgain = false;
  for (int attempt = 1;; ++attempt) {
    const bool started = start();
    if (started || attempt == kAttempts) return started;
    if (RelayPortsTaken()) {
      MoveToFreshPorts();
    } else if (!startedAgain && NeverRan()) {
      // The relay always greets first; one that is gone without a word was
      // never started (wine on a busy machine now and then fails to start
      // a program), so it is started once more.
      startedAgain = true;
      relay.Kill();
    } else {
      return false;
    }
  }
}

bool RelayHarness::NeverRan() const {
  return !relay.Running() && Console().empty() && Errors().empty();
}

bool RelayHarness::RelayPortsTaken() const {
  const std::string errors = Errors();
  return errors.find("tessard: cannot open game port ") != std::string::npos ||
         errors.find("tessard: cannot open auxiliary port ") != std::string::npos;
}

void RelayHarness::MoveToFreshPorts() {
  relay.Kill();
  relayPort = FindFreePortPair();
}

void RelayHarness::SendToRelay(UdpEndpoint& from, std::uint16_t port, const std::string& bytes) {
  from.SetDestination(LoopbackAddress(), port);
  from.Send(Data(bytes), static_cast<std::int32_t>(bytes.size()));
}

std::string RelayHarness::Carry(UdpEndpoint& from, std::uint16_t port, UdpEndpoint& to,
                                const std::string& bytes) {
  SendToRelay(from, port, bytes);
  auto received = ReceiveWithin(to, kDeliveryTimeoutMs);
  return received ? Bytes(*received) : "<nothing>";
}

std::string RelayHarness::CarryGame(UdpEndpoint& from, UdpEndpoint& to, const std::string& bytes) {
  return Carry(from, relayPort, to, bytes);
}

bool RelayHarness::CarryGameBothWays(ExpectedLog& expected, int count,
                                     const std::function<std::string(int)>& bytesOf) {
  for (int i = 0; i < count; ++i) {
    const std::string bytes = bytesOf(i);
    const bool up = i % 2 == 0;
    UdpEndpoint& from = up ? clientGame : serverGame;
    UdpEndpoint& to = up ? serverGame : clientGame;
    if (CarryGame(from, to, bytes) != bytes) return false;
    expected.Dump(up ? Direction::kClientToServer : Direction::kServerToClient, bytes);
  }
  return true;
}

std::string RelayHarness::ErrorsOnceTheyMention(const std::string& text) const {
  for (int attempt = 0; attempt < 150; ++attempt) {
    const std::string errors = Errors();
    if (errors.find(text) != std::string::npos) return errors;
    platform::SleepAlertable(20);
  }
  return Errors();
}

bool ExchangeKeys(RelayHarness& relay, UdpEndpoint& clientEndpoint, SessionCipher& client,
                  SessionCipher& server, std::int32_t serverKey, std::int8_t protocol,
                  std::uint32_t tickCount, ExpectedLog& expected) {
  const std::int32_t clientKey = client.GenerateKey(tickCount);
  const std::string request = KeyRequest(clientKey, protocol);
  if (relay.CarryGame(clientEndpoint, relay.serverGame, request) != request) return false;
  expected.Line(
      "c2s       Connection from 127.0.0.1:" + std::to_string(clientEndpoint.LocalPort()) +
      " (proto " + std::to_string(protocol) + ")\n");
  expected.Dump(Direction::kClientToServer, request);

  const std::string response = KeyResponse(serverKey);
  if (relay.CarryGame(relay.serverGame, clientEndpoint, response) != response) return false;
  expected.Line("s2c       SubSpace decryption enabled.\n");
  expected.Dump(Direction::kServerToClient, response);

  server.clientKey = clientKey;
  server.SetServerKey(serverKey);
  client.SetServerKey(serverKey);
  return true;
}

bool EncryptedSession::Start(std::int32_t serverKey, std::int8_t protocol,
                             std::uint32_t tickCount) {
  return relay.StartRouted() && ExchangeKeys(relay, relay.clientGame, client, server, serverKey,
                                             protocol, tickCount, expected);
}

int RelayHarness::StopByKey() {
  relay.WriteToStandardInput("q");
  return WaitForExit();
}

int RelayHarness::WaitForExit() { return relay.WaitForExit(10000); }

}  // namespace tessard::testing
