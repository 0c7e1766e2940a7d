#include "capture/capture_file.h"

#include <cstdio>
#include <cstring>

#include "platform/platform.h"

namespace tessard {

CaptureFile::~CaptureFile() { Close(); }

bool CaptureFile::Open(const char* path, OutputWriter::FailureHandler onFailure) {
  Close();
  openFailed = false;
  int descriptor = -1;
  bool created = false;
  if (platform::OpenOutputFile(path, &descriptor, &created, openReason, sizeof(openReason)) !=
      platform::OutputOpening::kOpened) {
    openFailed = true;
    return false;
  }
  if (!platform::EmptyOutputFile(descriptor, openReason, sizeof(openReason))) {
    char ignored[8];
    platform::CloseOutputFile(descriptor, ignored, sizeof(ignored));
    openFailed = true;
    return false;
  }
  return Start(std::make_unique<FileOutput>(descriptor), onFailure);
}

bool CaptureFile::Start(std::unique_ptr<OutputTarget> replacement,
                        OutputWriter::FailureHandler onFailure) {
  Close();
  openFailed = false;
  openReason[0] = '\0';
  target = std::move(replacement);
  writer.Start(target.get());
  writer.SetFailureHandler(onFailure);
  const std::vector<std::uint8_t> header = CaptureFileHeader();
  return writer.Write(header.data(), static_cast<std::uint32_t>(header.size()),
                      static_cast<std::uint32_t>(header.size()));
}

bool CaptureFile::Record(const CapturedDatagram& datagram) {
  if (!IsOpen() || Failed()) return false;
  const std::size_t commentLength = datagram.comment == nullptr ? 0 : std::strlen(datagram.comment);
  // Grows to the largest block seen and stays: no allocation per datagram.
  const std::size_t needed = PacketBlockSize(datagram.length, commentLength);
  if (block.size() < needed) block.resize(needed);
  const std::size_t size = WritePacketBlock(datagram, block.data(), block.size());
  if (size == 0) {
    writer.GiveUp("datagram or comment too long for a capture record");
    return false;
  }
  const auto length = static_cast<std::uint32_t>(size);
  return writer.Write(block.data(), length, length);
}

bool CaptureFile::Close() {
  const bool whole = writer.Close() && !openFailed;
  target.reset();
  return whole;
}

}  // namespace tessard
