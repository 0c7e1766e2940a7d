// Catches what the packet log writes out, piece by piece, instead of
// letting it reach standard output: for the tests of the log and of its
// dump format.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "log/direction.h"

namespace tessard::testing {

// The text DumpPacket writes for the length bytes, caught on its way out.
// The packet log's store must be empty, as it is between tests.
std::string DumpText(Direction direction, const std::uint8_t* bytes, std::int32_t length);

// A fixture whose tests see every piece the log writes out. The
// process-wide store is emptied before and after every test.
class LogCatchingTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Every piece written out so far, in order.
  static std::vector<std::string>& Written();
  // Writes the store out and returns all pieces caught, forgetting them.
  static std::vector<std::string> FlushPieces();
  // Writes the store out and returns the text of all pieces caught.
  static std::string FlushText();

 private:
  static void Catch(const char* text);
};

}  // namespace tessard::testing
