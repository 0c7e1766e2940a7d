// The capture file: the pcapng header, then one packet block per datagram.
// Each block goes to the operating system whole and at once, with no buffer
// of ours between, so that a reader of the growing file sees every datagram
// so far and a killed relay loses at most the one in flight. A failure ends
// the capture under the rule of OutputWriter: the file keeps whole blocks,
// the failure is told once, nothing more is written.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "capture/pcapng.h"
#include "platform/output_writer.h"

namespace tessard {

class CaptureFile {
 public:
  CaptureFile() = default;
  ~CaptureFile();
  CaptureFile(const CaptureFile&) = delete;
  CaptureFile& operator=(const CaptureFile&) = delete;

  // Creates path (an existing file is emptied) and writes the header.
  // False when either fails; Reason() tells why. A header that cannot be
  // written is a failed write: told, and the file stays open.
  bool Open(const char* path, OutputWriter::FailureHandler onFailure = nullptr);
  // Writes the header to target, which the capture then owns.
  bool Start(std::unique_ptr<OutputTarget> target, OutputWriter::FailureHandler onFailure);

  // Follows the FIFO at path, which the capture is being written to: once
  // its reader has gone, the capture looks for a new one now and then, on
  // a later Record, and starts again for it with a header of its own, told
  // through onRestart. The capture no longer counts as whole after that.
  void FollowReaders(const char* path, void (*onRestart)());

  // Has the wait between the relay's passes end when the reader of the
  // pipe being written leaves, so that it is seen before a write fails.
  void WatchReader();
  // After such a wait: a reader that has left ends the capture, told once;
  // a followed FIFO is let go of at once and looked at for a new reader,
  // so that one who opens it again gets a capture from its header.
  void NoticeReaderLeaving();

  // Writes the datagram's packet block. False when this or an earlier write
  // failed, or the file is not open.
  bool Record(const CapturedDatagram& datagram);

  // Closes the file. False when the capture is not whole: it could not be
  // created, or a write or the closing failed. True when none was opened.
  bool Close();

  bool IsOpen() const { return writer.HasTarget(); }
  // Whether its last output failed because the pipe's reader left.
  bool ReaderLeft() const { return writer.ReaderLeft(); }
  // True once creating, writing or closing has failed, or a reader left.
  bool Failed() const { return writer.Failed() || openFailed || interrupted; }
  // Why it failed; empty while it has not.
  const char* Reason() const { return openFailed ? openReason : writer.Reason(); }

 private:
  // Writes the header to a new target, at a start or a restart.
  bool Begin(std::unique_ptr<OutputTarget> replacement);
  // After a failure on a followed FIFO: lets go of it once its reader has
  // gone, and starts again when a new reader has opened it.
  void LookForNewReader(bool atOnce);

  std::unique_ptr<OutputTarget> target;
  OutputWriter writer;
  bool openFailed = false;
  char openReason[256] = "";
  std::vector<std::uint8_t> block;
  std::string fifoPath;  // empty: not followed
  void (*onRestart)() = nullptr;
  bool interrupted = false;  // a reader left, and what came meanwhile is not in it
  bool watchingReader = false;
  std::uint32_t lookedAt = 0;
};

}  // namespace tessard
