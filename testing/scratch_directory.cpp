#include "testing/scratch_directory.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace tessard::testing {

ScratchDirectory::ScratchDirectory(const std::string& purpose) {
  static std::atomic<std::uint32_t> count{0};
  std::error_code error;
  const std::filesystem::path temporary = std::filesystem::temp_directory_path(error);
  // The process id tells concurrent runs apart, the count one run's
  // directories, and the time a run from an earlier one whose id the
  // system has given out again. A name already taken is never reused,
  // since it may be another run's.
  for (int attempt = 0; !error && attempt < 100; ++attempt) {
    const auto now = std::chrono::duration_cast<std::chrono::nanoseconds>(
        std::chrono::system_clock::now().time_since_epoch());
    const std::string name = "tessard-" + purpose + "-" + std::to_string(ThisProcessId()) + "-" +
                             std::to_string(count++) + "-" + std::to_string(now.count());
    const std::filesystem::path candidate = temporary / name;
    if (std::filesystem::create_directory(candidate, error)) {
      path = candidate;
      return;
    }
  }
  std::fprintf(stderr, "tessard tests: cannot make a scratch directory for %s in %s: %s\n",
               purpose.c_str(), temporary.string().c_str(),
               error ? error.message().c_str() : "every name tried was taken");
  std::abort();
}

ScratchDirectory::~ScratchDirectory() {
  std::error_code ignored;  // a file a child still holds open (Windows) stays behind
  std::filesystem::remove_all(path, ignored);
}

std::string ReadWholeFile(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

void WriteWholeFile(const std::filesystem::path& path, const std::string& contents) {
  std::ofstream file(path, std::ios::binary | std::ios::trunc);
  file << contents;
}

}  // namespace tessard::testing
