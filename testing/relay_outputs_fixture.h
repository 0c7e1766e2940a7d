// What the whole-program tests of the relay's outputs share: a relay with
// its fake peers, game traffic carried both ways with the log it must
// leave, and the wait for a line on standard error.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "testing/relay_harness.h"

namespace tessard::testing {

class RelayOutputsTest : public ::testing::Test {
 protected:
  // Carries count game datagrams of size bytes, alternately up and down,
  // each checked on arrival and noted in the log expected of the relay.
  bool CarryGame(int count, std::size_t size = 40) {
    for (int i = 0; i < count; ++i) {
      const std::string bytes = GamePacket(size, static_cast<unsigned>(carried++));
      const bool up = i % 2 == 0;
      UdpEndpoint& from = up ? relay.clientGame : relay.serverGame;
      UdpEndpoint& to = up ? relay.serverGame : relay.clientGame;
      if (relay.CarryGame(from, to, bytes) != bytes) return false;
      log.Dump(up ? Direction::kClientToServer : Direction::kServerToClient, bytes);
    }
    return true;
  }

  // Standard error once it holds text, or as it is after 3 s.
  static std::string ErrorsOnceTheyMention(const RelayHarness& harness, const std::string& text) {
    for (int attempt = 0; attempt < 150; ++attempt) {
      const std::string errors = harness.Errors();
      if (errors.find(text) != std::string::npos) return errors;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return harness.Errors();
  }

  RelayHarness relay;
  ExpectedLog log;
  int carried = 0;
};

}  // namespace tessard::testing
