#include "testing/scratch_directory.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace tessard::testing {
namespace {

namespace fs = std::filesystem;

// What keeps two runs at once apart: every directory is new and empty,
// named after this process, and its owner takes it away with all it holds
// and nothing else.
TEST(ScratchDirectory, EachIsNewEmptyOfThisProcessAndGoesWithItsOwner) {
  const std::string prefix = "tessard-scratch-" + std::to_string(ThisProcessId()) + "-";
  std::vector<std::unique_ptr<ScratchDirectory>> held;
  std::set<fs::path> paths;
  for (int i = 0; i < 50; ++i) {
    held.push_back(std::make_unique<ScratchDirectory>("scratch"));
    const fs::path& path = held.back()->Path();
    paths.insert(path);
    ASSERT_TRUE(fs::is_directory(path)) << path;
    EXPECT_TRUE(fs::is_empty(path)) << path;
    EXPECT_EQ(path.lexically_normal(),
              (fs::temp_directory_path() / path.filename()).lexically_normal());
    EXPECT_EQ(path.filename().string().rfind(prefix, 0), 0u) << path;
    WriteWholeFile(path / "file", "bytes");
  }
  EXPECT_EQ(paths.size(), held.size());

  const fs::path gone = held.front()->Path();
  fs::create_directories(gone / "inner" / "deeper");
  WriteWholeFile(gone / "inner" / "deeper" / "file", "more bytes");
  held.erase(held.begin());
  EXPECT_FALSE(fs::exists(gone));
  for (const auto& scratch : held) {
    EXPECT_EQ(ReadWholeFile(scratch->Path() / "file"), "bytes") << scratch->Path();
  }
}

TEST(ScratchDirectory, WholeFilesKeepEveryByteAndAreReplacedWhole) {
  const ScratchDirectory scratch("files");
  const fs::path file = scratch.Path() / "file";
  static constexpr char kRaw[] = "line\r\nnext\n\0\x1A\xFF end";  // a text mode would change it
  const std::string bytes(kRaw, sizeof(kRaw) - 1);
  WriteWholeFile(file, std::string(100, 'x'));
  WriteWholeFile(file, bytes);
  EXPECT_EQ(ReadWholeFile(file), bytes);
  EXPECT_EQ(fs::file_size(file), bytes.size());
  WriteWholeFile(file, "");
  EXPECT_EQ(ReadWholeFile(file), "");
  EXPECT_EQ(ReadWholeFile(scratch.Path() / "missing"), "");
}

}  // namespace
}  // namespace tessard::testing
