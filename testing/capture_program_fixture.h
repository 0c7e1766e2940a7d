// The real relay with a capture: a fake client and server carry a key
// exchange, encrypted game traffic both ways, auxiliary traffic, an
// oversized datagram and a disconnect, and the fixture notes the record
// each datagram must leave in the capture and the text it adds to the log.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "cipher/session_cipher.h"
#include "testing/capture_records.h"
#include "testing/loopback.h"
#include "testing/relay_harness.h"

namespace tessard::testing {

class CaptureProgramTest : public ::testing::Test {
 protected:
  static constexpr std::uint32_t kOutbound = 2;  // the client's point of view
  static constexpr std::uint32_t kInbound = 1;

  static std::uint64_t NowMicroseconds();
  // The endpoint as the capture names it: "127.0.0.1:port".
  static std::string At(const UdpEndpoint& endpoint);

  // The console of a relay that opened its log and its capture.
  std::string ExpectedConsole() const;

  // Starts the relay with a capture and waits until it carries traffic.
  // The probes that proved it (one or more) are the capture's first records.
  void StartWithCapture();

  // Notes a record the capture must hold, from a datagram sent at sentAt.
  void Expect(std::uint32_t interface, std::uint32_t flags, const std::string& source,
              const std::string& destination, const std::string& payload,
              const std::string& comment, std::uint64_t sentAt);

  // Sends wire from one fake peer to a relay port and checks that the other
  // receives it unchanged; the relay records shown.
  void Carry(UdpEndpoint& from, std::uint16_t port, UdpEndpoint& to, const std::string& wire,
             std::uint32_t interface, const std::string& shown);
  void CarryGame(UdpEndpoint& from, UdpEndpoint& to, const std::string& wire,
                 const std::string& plain);
  void CarryAux(UdpEndpoint& from, UdpEndpoint& to, const std::string& bytes);

  // Everything a session carries, from a server that speaks before any
  // client to a disconnect, checked on the wire as it goes.
  void CarrySession();

  // The capture file's records; a malformed file fails the test.
  std::vector<CaptureRecord> Recorded();

  RelayHarness relay;
  SessionCipher client;
  SessionCipher server;
  ExpectedLog log;
  std::uint64_t started = NowMicroseconds();
  // Per expected record: when its datagram was sent, and a time by which
  // the relay had taken it.
  std::vector<CaptureRecord> expected;
  std::vector<std::uint64_t> sentTimes;
  std::vector<std::uint64_t> takenBy;
};

}  // namespace tessard::testing
