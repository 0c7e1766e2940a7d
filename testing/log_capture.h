// A test fixture that catches what the packet log writes out, piece by
// piece, instead of letting it reach standard output. The process-wide
// store is emptied before and after every test.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "log/direction.h"
#include "log/packet_log.h"

namespace tessard {

namespace testing {

// The text DumpPacket writes for the length bytes, caught on its way out.
// The packet log's store must be empty, as it is between tests.
std::string DumpText(Direction direction, const std::uint8_t* bytes, std::int32_t length);

}  // namespace testing

class CapturedLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetLogWriter(Capture);
    FlushLog();
    Written().clear();
  }

  void TearDown() override {
    FlushLog();
    SetLogWriter(nullptr);
    Written().clear();
  }

  // Every piece written out so far, in order.
  static std::vector<std::string>& Written() {
    static std::vector<std::string> pieces;
    return pieces;
  }

  // Writes the store out and returns all pieces caught, forgetting them.
  static std::vector<std::string> FlushPieces() {
    FlushLog();
    std::vector<std::string> pieces;
    pieces.swap(Written());
    return pieces;
  }

  // Writes the store out and returns the text of all pieces caught.
  static std::string FlushText() {
    std::string text;
    for (const std::string& piece : FlushPieces()) text += piece;
    return text;
  }

 private:
  static void Capture(const char* text) { Written().emplace_back(text); }
};

}  // namespace tessard
