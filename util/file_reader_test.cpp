#include "util/file_reader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/platform.h"
#include "testing/scratch_directory.h"

namespace tessard {
namespace {

namespace fs = std::filesystem;

class FileReaderTest : public ::testing::Test {
 protected:
  void SetUp() override { std::ofstream(base / "data", std::ios::binary) << "0123456789"; }
  std::string PathOf(const char* name) const { return (base / name).string(); }

  const testing::ScratchDirectory scratch{"reader"};
  const fs::path base = scratch.Path();
};

TEST_F(FileReaderTest, OpensExistingUnchangedAndCreatesMissingEmpty) {
  FileReader reader;
  EXPECT_EQ(reader.Size(), -1);
  ASSERT_TRUE(reader.Open(PathOf("data").c_str()));
  EXPECT_EQ(reader.Size(), 10);
  ASSERT_TRUE(reader.Open(PathOf("new").c_str()));
  EXPECT_EQ(reader.Size(), 0);
  reader.Close();
  EXPECT_EQ(reader.Handle(), -1);
  reader.Close();  // nothing held: closes nothing
  EXPECT_TRUE(fs::exists(base / "new"));
  EXPECT_EQ(fs::file_size(base / "data"), 10u);
}

TEST_F(FileReaderTest, SizeKeepsThePosition) {
  FileReader reader;
  ASSERT_TRUE(reader.Open(PathOf("data").c_str()));
  EXPECT_EQ(reader.ReadByte(), '0');
  EXPECT_EQ(reader.ReadByte(), '1');
  EXPECT_EQ(reader.Size(), 10);
  EXPECT_EQ(reader.ReadByte(), '2');
}

TEST_F(FileReaderTest, SecondOpenClosesTheFirstEvenWhenItFails) {
  FileReader reader;
  ASSERT_TRUE(reader.Open(PathOf("data").c_str()));
  const int first = reader.Handle();
  ASSERT_TRUE(reader.Open(PathOf("data").c_str()));
  // Either the freed descriptor was reused, or it is closed.
  EXPECT_TRUE(reader.Handle() == first || platform::TellFileDescriptor(first) == -1);
  const int second = reader.Handle();
  EXPECT_FALSE(reader.Open(base.string().c_str()));  // a directory is not writable
  EXPECT_EQ(reader.Handle(), -1);
  EXPECT_EQ(platform::TellFileDescriptor(second), -1);
  EXPECT_EQ(reader.Size(), -1);
  EXPECT_EQ(reader.ReadByte(), 0);
  EXPECT_EQ(reader.ReadBlock(0, 3)[2], 0);
}

TEST_F(FileReaderTest, ReadBlockSeeksFromTheStartAndZeroFillsPastTheEnd) {
  FileReader reader;
  ASSERT_TRUE(reader.Open(PathOf("data").c_str()));
  const auto block = reader.ReadBlock(2, 3);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(block.get()), 3), "234");
  EXPECT_EQ(reader.ReadByte(), '5');  // left behind the bytes read
  reader.ReadBlock(7, 2);
  const auto again = reader.ReadBlock(2, 3);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(again.get()), 3), "234");
  const auto tail = reader.ReadBlock(8, 6);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(tail.get()), 6),
            std::string("89\0\0\0\0", 6));
  const auto beyond = reader.ReadBlock(100, 4);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(beyond.get()), 4), std::string(4, '\0'));
  EXPECT_EQ(reader.ReadByte(), 0);  // at the end of the file
  EXPECT_NE(reader.ReadBlock(0, 0), nullptr);
}

}  // namespace
}  // namespace tessard
