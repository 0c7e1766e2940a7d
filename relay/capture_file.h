// The capture file the relay writes when asked: the pcapng header when the
// file is created, then one packet block per datagram. Each block goes to
// the operating system whole and at once, with no buffer of ours between,
// so that a reader of the growing file sees every datagram so far and a
// killed relay loses at most the one in flight.
#pragma once

#include <cstdint>
#include <vector>

#include "capture/pcapng.h"

namespace tessard {

class CaptureFile {
 public:
  CaptureFile() = default;
  ~CaptureFile();
  CaptureFile(const CaptureFile&) = delete;
  CaptureFile& operator=(const CaptureFile&) = delete;

  // Creates path (an existing file is emptied) and writes the header.
  // False when either fails; Reason() tells why.
  bool Open(const char* path);

  // Writes the datagram's packet block. The first write that fails ends
  // the capture: the file is cut back to its last whole block, so it stays
  // a readable prefix, and nothing more is written. False when this or an
  // earlier write failed, or the file is not open.
  bool Record(const CapturedDatagram& datagram);

  // Closes the file; false when closing fails (it then counts as failed).
  bool Close();

  bool IsOpen() const { return descriptor != -1; }
  // True once creating, writing or closing has failed.
  bool Failed() const { return failed; }
  // Why it failed; empty while it has not.
  const char* Reason() const { return reason; }

 private:
  bool Write(const std::uint8_t* bytes, std::size_t length);
  void Fail(const char* why);

  int descriptor = -1;
  bool failed = false;
  std::uint64_t bytesWritten = 0;  // whole blocks only
  std::vector<std::uint8_t> block;
  char reason[256] = "";
};

}  // namespace tessard
