#include "util/file_reader.h"

#include <algorithm>
#include <new>

#include "platform/platform.h"

namespace tessard {
namespace {

constexpr int kFromStart = 0;
constexpr int kFromEnd = 2;

}  // namespace

FileReader::~FileReader() { Close(); }

bool FileReader::Open(const char* path) {
  Close();
  handle = platform::OpenFileDescriptor(path);
  return handle != -1;
}

void FileReader::Close() {
  if (handle == -1) return;
  platform::CloseFileDescriptor(handle);
  handle = -1;
}

std::int32_t FileReader::Size() {
  const std::int32_t position = platform::TellFileDescriptor(handle);
  platform::SeekFileDescriptor(handle, 0, kFromEnd);
  const std::int32_t size = platform::TellFileDescriptor(handle);
  platform::SeekFileDescriptor(handle, position, kFromStart);
  return size;
}

std::unique_ptr<std::uint8_t[]> FileReader::ReadBlock(std::int32_t offset, std::uint32_t length) {
  std::unique_ptr<std::uint8_t[]> block(new (std::nothrow) std::uint8_t[length]);
  if (!block) return block;
  platform::SeekFileDescriptor(handle, offset, kFromStart);
  std::int32_t got = platform::ReadFileDescriptor(handle, block.get(), length);
  if (got < 0) got = 0;
  std::fill(block.get() + std::min<std::uint32_t>(static_cast<std::uint32_t>(got), length),
            block.get() + length, std::uint8_t{0});
  return block;
}

std::uint8_t FileReader::ReadByte() {
  std::uint8_t byte = 0;
  if (platform::ReadFileDescriptor(handle, &byte, 1) != 1) return 0;
  return byte;
}

}  // namespace tessard
