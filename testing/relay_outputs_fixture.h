// What the whole-program tests of the relay's outputs share: a relay with
// its fake peers, and game traffic carried both ways with the log it must
// leave.
#pragma once

#include <gtest/gtest.h>

#include <cstddef>

#include "testing/relay_harness.h"

namespace tessard::testing {

class RelayOutputsTest : public ::testing::Test {
 protected:
  // Carries count game datagrams of size bytes, alternately up and down,
  // and notes them in the log expected of the relay.
  bool CarryGame(int count, std::size_t size = 40);

  RelayHarness relay;
  ExpectedLog log;
  int carried = 0;
};

}  // namespace tessard::testing
