// A directory of a test's own for the files it writes, and whole-file
// reads and writes. Every test that writes a file writes it in one of
// these, so that two test runs at once, or two tests in one run, never
// share a path.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace tessard::testing {

class ScratchDirectory {
 public:
  // A new, empty directory under the system's temporary directory, named
  // "tessard-<purpose>-" with this process's id, a count of this process's
  // directories and the time. Ends the process, saying why on standard
  // error, when none can be made: no test can run without its files.
  explicit ScratchDirectory(const std::string& purpose = "test");
  // Removes the directory and everything in it.
  ~ScratchDirectory();
  ScratchDirectory(const ScratchDirectory&) = delete;
  ScratchDirectory& operator=(const ScratchDirectory&) = delete;

  const std::filesystem::path& Path() const { return path; }

 private:
  std::filesystem::path path;
};

// This process's id, which tells one test run's directories from another's.
std::uint32_t ThisProcessId();

// A file's whole contents, empty when it cannot be read.
std::string ReadWholeFile(const std::filesystem::path& path);
// Replaces a file's contents with contents.
void WriteWholeFile(const std::filesystem::path& path, const std::string& contents);

}  // namespace tessard::testing
