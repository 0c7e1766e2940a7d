// A minimal reader of fixed byte ranges of a file, over the runtime's
// descriptor calls, with no buffering and no error reporting of its own.
#pragma once

#include <cstdint>
#include <memory>

namespace tessard {

class FileReader {
 public:
  FileReader() = default;
  ~FileReader();
  FileReader(const FileReader&) = delete;
  FileReader& operator=(const FileReader&) = delete;

  // Closes any file held, then opens path for reading and writing, creating
  // it empty when it is missing (never truncating). True when a file is
  // held; false (and nothing held) when the open failed.
  bool Open(const char* path);
  // Closes the file held, if any; afterwards nothing is held, so no
  // descriptor is ever closed twice.
  void Close();
  // The file's length in bytes, the position left unchanged; -1 when
  // nothing is held.
  std::int32_t Size();
  // A new buffer of length bytes read from offset bytes past the start of
  // the file; the position is left behind the bytes read. The caller owns
  // the buffer through the unique_ptr (released with delete[]). Whatever
  // the read did not fill (past the end of the file, a failed read) is
  // zero. Null when the buffer cannot be allocated.
  std::unique_ptr<std::uint8_t[]> ReadBlock(std::int32_t offset, std::uint32_t length);
  // The byte at the current position, which advances past it; 0 when no
  // byte can be read.
  std::uint8_t ReadByte();

  // The descriptor held, or -1.
  std::int32_t Handle() const { return handle; }

 private:
  std::int32_t handle = -1;
};

}  // namespace tessard
