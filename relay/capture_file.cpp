#include "relay/capture_file.h"

#include <cstdio>
#include <cstring>

#include "platform/platform.h"

namespace tessard {

CaptureFile::~CaptureFile() { Close(); }

bool CaptureFile::Open(const char* path) {
  Close();
  failed = false;
  reason[0] = '\0';
  bytesWritten = 0;
  descriptor = platform::CreateOutputFile(path, reason, sizeof(reason));
  if (descriptor == -1) {
    failed = true;
    return false;
  }
  const std::vector<std::uint8_t> header = CaptureFileHeader();
  return Write(header.data(), header.size());
}

bool CaptureFile::Record(const CapturedDatagram& datagram) {
  if (descriptor == -1 || failed) return false;
  const std::size_t commentLength = datagram.comment == nullptr ? 0 : std::strlen(datagram.comment);
  // Grows to the largest block seen and stays: no allocation per datagram.
  const std::size_t needed = PacketBlockSize(datagram.length, commentLength);
  if (block.size() < needed) block.resize(needed);
  const std::size_t size = WritePacketBlock(datagram, block.data(), block.size());
  if (size == 0) {
    Fail("datagram or comment too long for a capture record");
    return false;
  }
  return Write(block.data(), size);
}

bool CaptureFile::Close() {
  if (descriptor == -1) return !failed;
  char why[sizeof(reason)] = "";
  const bool closed = platform::CloseOutputFile(descriptor, why, sizeof(why));
  descriptor = -1;
  if (!closed && !failed) Fail(why);
  return closed;
}

bool CaptureFile::Write(const std::uint8_t* bytes, std::size_t length) {
  char why[sizeof(reason)] = "";
  if (!platform::WriteOutputFile(descriptor, bytes, static_cast<std::uint32_t>(length), why,
                                 sizeof(why))) {
    // Part of the block may have reached the file; readers stop at a torn
    // block, so it goes.
    platform::TruncateOutputFile(descriptor, bytesWritten);
    Fail(why);
    return false;
  }
  bytesWritten += length;
  return true;
}

void CaptureFile::Fail(const char* why) {
  failed = true;
  std::snprintf(reason, sizeof(reason), "%s", why);
}

}  // namespace tessard
