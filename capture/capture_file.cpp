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
  fifoPath.clear();
  interrupted = false;
  writer.SetFailureHandler(onFailure);
  return Begin(std::move(replacement));
}

bool CaptureFile::Begin(std::unique_ptr<OutputTarget> replacement) {
  target = std::move(replacement);
  if (watchingReader) target->WakeWhenReaderLeaves(true);
  writer.Start(target.get());
  const std::vector<std::uint8_t> header = CaptureFileHeader();
  return writer.Write(header.data(), static_cast<std::uint32_t>(header.size()),
                      static_cast<std::uint32_t>(header.size()));
}

void CaptureFile::FollowReaders(const char* path, void (*restartHandler)()) {
  fifoPath = path;
  onRestart = restartHandler;
}

void CaptureFile::WatchReader() {
  watchingReader = true;
  if (target != nullptr) target->WakeWhenReaderLeaves(true);
}

void CaptureFile::NoticeReaderLeaving() {
  if (target == nullptr) {
    if (!fifoPath.empty()) LookForNewReader(false);
    return;
  }
  if (!writer.Failed()) {
    if (!target->ReaderLeft()) return;
    // The same words as a write into the deserted pipe would have given.
    writer.GiveUp(platform::kReaderLeftReason);
  }
  if (!fifoPath.empty()) LookForNewReader(true);
}

void CaptureFile::LookForNewReader(bool atOnce) {
  // Opening a FIFO that no one reads fails at once, but not for free: a
  // few looks a second are plenty for a reader that a user starts by hand.
  constexpr std::uint32_t kLookEveryMs = 250;
  const std::uint32_t now = platform::TickCount();
  if (!atOnce && now - lookedAt < kLookEveryMs) return;
  lookedAt = now;
  // The old reader's unread bytes stay in the pipe for as long as it is
  // open at either end; closed, the next reader gets a fresh one.
  if (target != nullptr) {
    if (!target->ReaderLeft()) return;  // a reader that stopped reading is still there
    writer.Close();
    target.reset();
    interrupted = true;
  }
  int descriptor = -1;
  char why[sizeof(openReason)];
  if (platform::ReopenOutputFifo(fifoPath.c_str(), &descriptor, why, sizeof(why)) !=
      platform::OutputOpening::kOpened) {
    return;
  }
  if (onRestart != nullptr) onRestart();
  Begin(std::make_unique<FileOutput>(descriptor));
}

bool CaptureFile::Record(const CapturedDatagram& datagram) {
  if (writer.Failed() && !fifoPath.empty()) LookForNewReader(false);
  if (!IsOpen() || writer.Failed() || openFailed) return false;
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
  const bool whole = writer.Close() && !openFailed && !interrupted;
  target.reset();
  return whole;
}

}  // namespace tessard
