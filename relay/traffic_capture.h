// The capture the user asked for ("Capture" in TESSARD.INI), fed by the
// relay loop: one record per datagram taken from an endpoint, addressed as
// it was carried, game payloads as the log shows them.
#pragma once

#include <cstdint>
#include <memory>

#include "capture/capture_file.h"
#include "log/direction.h"
#include "net/datagram.h"
#include "net/net_address.h"
#include "relay/game_traffic.h"

namespace tessard {

class TrafficCapture {
 public:
  // Creates the file at path and writes its header. False when the file
  // cannot be created (Reason() tells why; the handler is not told). A
  // header that cannot be written is a failed write: told, and the file is
  // still open, so that closing it is the caller's usual business.
  bool Open(const char* path, OutputWriter::FailureHandler onFailure);
  // The same on an output the caller opened, which the capture then owns.
  void Start(std::unique_ptr<OutputTarget> target, OutputWriter::FailureHandler onFailure);

  // See CaptureFile::FollowReaders.
  void FollowReaders(const char* path, void (*onRestart)()) { file.FollowReaders(path, onRestart); }

  // See CaptureFile::WatchReader and NoticeReaderLeaving.
  void WatchReader() { file.WatchReader(); }
  void NoticeReaderLeaving() { file.NoticeReaderLeaving(); }

  bool IsOpen() const { return file.IsOpen(); }
  // Whether nothing more will be captured: a write failed, a reader left.
  bool Ended() const { return !file.IsOpen() || file.Failed(); }
  bool ReaderLeft() const { return file.ReaderLeft(); }
  const char* Reason() const { return file.Reason(); }

  // A game datagram just carried, with the payload its inspection dumped
  // and the event it logged as the record's comment. destination is where
  // the relay sent it.
  void RecordGame(std::uint64_t receivedAt, const Datagram& datagram, const NetAddress& destination,
                  Direction direction, const InspectedDatagram& inspected);
  // An auxiliary datagram just carried, its bytes as they travelled.
  void RecordAuxiliary(std::uint64_t receivedAt, const Datagram& datagram,
                       const NetAddress& destination, Direction direction);

  // Closes the file. False when the capture is not whole: it could not be
  // created, or a write or the closing failed. True when none was opened.
  bool Close() { return file.Close(); }

 private:
  void Record(CapturedDatagram& record, std::uint64_t receivedAt, const NetAddress& source,
              const NetAddress& destination, Direction direction);

  CaptureFile file;
};

}  // namespace tessard
