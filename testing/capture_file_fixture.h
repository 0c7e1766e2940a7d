// A scratch directory for the capture file tests, and the bytes of a file.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace tessard {

class CaptureFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::random_device entropy;
    directory =
        std::filesystem::temp_directory_path() / ("tessard_capture_" + std::to_string(entropy()));
    std::filesystem::create_directory(directory);
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(directory, ignored);
  }
  std::string PathOf(const char* name) const { return (directory / name).string(); }
  static std::vector<std::uint8_t> FileBytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  }

  std::filesystem::path directory;
};

}  // namespace tessard
