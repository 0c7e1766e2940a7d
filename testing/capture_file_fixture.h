// The fixture of the capture file tests: a scratch directory for the files
// they write, and the bytes of a file.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "testing/scratch_directory.h"

namespace tessard::testing {

class CaptureFileTest : public ::testing::Test {
 protected:
  // The path of name in the test's directory.
  std::string PathOf(const char* name) const;
  static std::vector<std::uint8_t> FileBytes(const std::string& path);

  ScratchDirectory scratch{"capture"};
  const std::filesystem::path directory = scratch.Path();
};

}  // namespace tessard::testing
