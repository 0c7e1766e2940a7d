#include "capture/capture_file.h"

#include <cstdio>

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
  // Cleared, not freed: after the largest block so far, no allocation per
  // datagram.
  block.clear();
  if (!AppendPacketBlock(datagram, block)) {
    writer.GiveUp("datagram or comment too long for a capture record");
    return false;
  }
  const auto length = static_cast<std::uint32_t>(block.size());
  return writer.Write(block.data(), length, length);
}

bool CaptureFile::Close() {
  const bool whole = writer.Close() && !openFailed;
  target.reset();
  return whole;
}

}  // namespace tessard
