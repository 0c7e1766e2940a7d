// A harness for the whole-program tests: the real tessard in a directory of
// its own, with a fake client and a fake server on loopback.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "cipher/session_cipher.h"
#include "log/direction.h"
#include "net/datagram.h"
#include "net/udp_endpoint.h"
#include "testing/child_process.h"
#include "testing/loopback.h"
#include "testing/scratch_directory.h"

namespace tessard::testing {

constexpr std::uint32_t kDeliveryTimeoutMs = 2000;
// Long enough to be sure that a datagram is not coming.
constexpr std::uint32_t kSilenceTimeoutMs = 300;
// Why a test of stop requests is skipped: ChildProcess::RequestStop could not
// send one (wine delivers no Ctrl-Break to a console the test shares).
constexpr const char* kNoStopRequest = "no stop request can reach the relay here";

// The tessard executable under test.
const char* RelayExecutable();

std::string Bytes(const Datagram& datagram);
// text with every CR LF turned into "\n".
std::string WithNewlines(const std::string& text);

// The log text the relay must write, built piece by piece with the same
// dump format, then given the file's CR LF line ends.
class ExpectedLog {
 public:
  void Line(const std::string& text) { text_ += text; }
  void Dump(Direction direction, const std::string& bytes);
  std::string FileText() const;

 private:
  std::string text_;
};

// A client's key request and a server's key response as they travel.
std::string KeyRequest(std::int32_t key, std::int8_t protocol);
std::string KeyResponse(std::int32_t key);

// Game payloads of the given size: a reliable-looking 00-header packet for
// even sizes, a one-byte-header packet for odd ones, with varied contents;
// none is a packet the relay acts on.
std::string GamePacket(std::size_t size, unsigned seed);

// bytes after the cipher's Encrypt or Decrypt.
std::string Encrypted(const SessionCipher& cipher, std::string bytes);
std::string Decrypted(const SessionCipher& cipher, std::string bytes);

class RelayHarness {
 public:
  // A fresh directory; fake server endpoints on a free port pair, and a
  // free pair for the relay to listen on.
  RelayHarness();
  ~RelayHarness();

  // The TESSARD.INI that routes the relay's free pair to the fake server,
  // with extraProxy and extraServer lines added to each section.
  std::string RoutedSettings(const std::string& extraProxy = "",
                             const std::string& extraServer = "") const;
  // Starts tessard in workingDirectory (the harness directory by default)
  // with settings written to its TESSARD.INI (none when empty).
  bool Start(const std::string& settings, const std::filesystem::path& workingDirectory = {});
  // Starts with RoutedSettings(extraProxy) and waits until both pairs carry
  // traffic, on fresh ports when another program takes the relay's.
  bool StartRouted(const std::string& extraProxy = "");
  // Sends a probe over the auxiliary pair until the server receives it:
  // then both endpoints of the relay are open.
  bool WaitUntilRelaying();

  // The relay's pair was free when it was found, but another program may
  // bind it before the relay does. Runs start (which starts the relay and
  // waits for what the test needs) and, while the relay reports that it
  // could not bind a port of its own, again on a fresh pair, a few times.
  // start's last result.
  bool RetryOnTakenPorts(const std::function<bool()>& start);
  // Whether the relay reported that it could not bind its game or its
  // auxiliary port.
  bool RelayPortsTaken() const;
  // Whether the relay is gone without having printed anything at all.
  bool NeverRan() const;
  // Stops the relay and picks a fresh free pair for it.
  void MoveToFreshPorts();

  // Sends bytes from one of the fake peers' endpoints to a relay port.
  void SendToRelay(UdpEndpoint& from, std::uint16_t port, const std::string& bytes);

  // Sends bytes from one fake peer to a relay port and returns what the
  // other peer received within the delivery timeout, or "<nothing>".
  std::string Carry(UdpEndpoint& from, std::uint16_t port, UdpEndpoint& to,
                    const std::string& bytes);
  // Carry through the relay's game port.
  std::string CarryGame(UdpEndpoint& from, UdpEndpoint& to, const std::string& bytes);

  // Carries count game datagrams, bytesOf(0) to bytesOf(count - 1),
  // alternately from the client and from the server, each checked on
  // arrival and its dump added to expected. False at the first one not
  // carried intact.
  bool CarryGameBothWays(ExpectedLog& expected, int count,
                         const std::function<std::string(int)>& bytesOf);

  // Standard error once it holds text, or as it is after 3 s.
  std::string ErrorsOnceTheyMention(const std::string& text) const;

  // Writes one byte to the relay's standard input and waits for its exit
  // status (-1 when it did not end in time).
  int StopByKey();
  int WaitForExit();

  // Console and standard error are text streams, whose lines end in CR LF
  // on Windows: both are given "\n" line ends. The log is returned as written.
  std::string Console() const { return WithNewlines(ReadWholeFile(directory / "console.txt")); }
  std::string Errors() const { return WithNewlines(ReadWholeFile(directory / "errors.txt")); }
  std::string Log(const std::string& name = "packets.txt") const {
    return ReadWholeFile(directory / name);
  }

  SocketLibraryScope socketLibrary;  // outlives the endpoints below
  ScratchDirectory scratch{"relay"};
  const std::filesystem::path directory = scratch.Path();
  std::uint16_t relayPort = 0;  // the game port; aux is one above
  std::uint16_t serverPort = 0;
  UdpEndpoint serverGame;
  UdpEndpoint serverAux;
  UdpEndpoint clientGame;
  UdpEndpoint clientAux;
  ChildProcess relay;
};

// A key exchange from the client endpoint: the request and the server's
// response carried unchanged, both ciphers set to the agreed key, and the
// connection line, notice and dumps the relay logs added to expected.
// False when either datagram was not carried intact.
bool ExchangeKeys(RelayHarness& relay, UdpEndpoint& clientEndpoint, SessionCipher& client,
                  SessionCipher& server, std::int32_t serverKey, std::int8_t protocol,
                  std::uint32_t tickCount, ExpectedLog& expected);

// A routed relay whose fake client and server talk encrypted, with the log
// expected of what they send.
struct EncryptedSession {
  // Starts the relay and exchanges keys from the client's game endpoint;
  // false when either fails.
  bool Start(std::int32_t serverKey, std::int8_t protocol, std::uint32_t tickCount);

  RelayHarness relay;
  SessionCipher client;
  SessionCipher server;
  ExpectedLog expected;
};

}  // namespace tessard::testing
