#include "relay/relay_program_testing.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <iterator>
#include <sstream>

#include "net/net_testing.h"

namespace tessard::testing {
namespace {

std::filesystem::path FreshDirectory() {
  static std::atomic<unsigned> counter{0};
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  std::filesystem::path path =
      std::filesystem::temp_directory_path() /
      ("tessard-test-" + std::to_string(stamp) + "-" + std::to_string(counter++));
  std::filesystem::create_directories(path);
  return path;
}

const std::uint8_t* Data(const std::string& bytes) {
  return reinterpret_cast<const std::uint8_t*>(bytes.data());
}

}  // namespace

std::string ReadWholeFile(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

void WriteWholeFile(const std::filesystem::path& path, const std::string& contents) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << contents;
}

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

RelayHarness::RelayHarness() : directory(FreshDirectory()) {
  serverPort = OpenPortPair(serverGame, serverAux);
  relayPort = FindFreePortPair();
  clientGame.Open(0);
  clientAux.Open(0);
}

RelayHarness::~RelayHarness() {
  relay.Kill();
  std::error_code ignored;
  std::filesystem::remove_all(directory, ignored);
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
  return relay.Start(TESSARD_EXECUTABLE, where.string(), (directory / "console.txt").string(),
                     (directory / "errors.txt").string());
}

bool RelayHarness::StartRouted() { return Start(RoutedSettings()) && WaitUntilRelaying(); }

bool RelayHarness::WaitUntilRelaying() {
  for (int attempt = 0; attempt < 100 && relay.Running(); ++attempt) {
    SendToRelay(clientAux, static_cast<std::uint16_t>(relayPort + 1), "probe");
    if (auto probe = ReceiveWithin(serverAux, 50)) return true;
  }
  return false;
}

void RelayHarness::SendToRelay(UdpEndpoint& from, std::uint16_t port, const std::string& bytes) {
  from.SetDestination(LoopbackAddress(), port);
  from.Send(Data(bytes), static_cast<std::int32_t>(bytes.size()));
}

int RelayHarness::StopByKey() {
  relay.WriteToStandardInput("q");
  return WaitForExit();
}

int RelayHarness::WaitForExit() { return relay.WaitForExit(10000); }

}  // namespace tessard::testing
