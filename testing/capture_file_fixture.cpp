#include "testing/capture_file_fixture.h"

namespace tessard::testing {

std::string CaptureFileTest::PathOf(const char* name) const { return (directory / name).string(); }

std::vector<std::uint8_t> CaptureFileTest::FileBytes(const std::string& path) {
  const std::string bytes = ReadWholeFile(path);
  return {bytes.begin(), bytes.end()};
}

}  // namespace tessard::testing
