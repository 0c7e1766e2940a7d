#include "relay/traffic_capture.h"

#include "relay/game_traffic.h"

namespace tessard {
namespace {

CaptureEndpoint EndpointOf(const NetAddress& address) {
  return {address.address, address.HostPort()};
}

}  // namespace

bool TrafficCapture::Open(const char* path, FailureHandler handler) {
  onFailure = handler;
  told = false;
  if (file.Open(path)) return true;
  if (!file.IsOpen()) return false;
  TellFailure();
  return true;
}

void TrafficCapture::RecordGame(std::uint64_t receivedAt, const Datagram& datagram,
                                const NetAddress& destination, Direction direction,
                                const char* event) {
  CapturedDatagram record;
  record.interface = CaptureInterface::kGame;
  record.payload = workCopy.bytes;
  record.length = static_cast<std::size_t>(workCopy.length);
  record.comment = event;
  Record(record, receivedAt, datagram.source, destination, direction);
}

void TrafficCapture::RecordAuxiliary(std::uint64_t receivedAt, const Datagram& datagram,
                                     const NetAddress& destination, Direction direction) {
  CapturedDatagram record;
  record.interface = CaptureInterface::kAuxiliary;
  record.payload = datagram.bytes.get();
  record.length = static_cast<std::size_t>(datagram.length);
  Record(record, receivedAt, datagram.source, destination, direction);
}

void TrafficCapture::Record(CapturedDatagram& record, std::uint64_t receivedAt,
                            const NetAddress& source, const NetAddress& destination,
                            Direction direction) {
  if (file.Failed()) return;  // a failed capture stays a clean prefix
  record.timestampMicroseconds = receivedAt;
  record.source = EndpointOf(source);
  record.destination = EndpointOf(destination);
  // The client's point of view: what it sends goes out.
  record.direction = direction == Direction::kClientToServer ? CaptureDirection::kOutbound
                                                             : CaptureDirection::kInbound;
  if (!file.Record(record)) TellFailure();
}

bool TrafficCapture::Close() {
  const bool wasOpen = file.IsOpen();
  if (!file.Close() && wasOpen) TellFailure();
  return !file.Failed();
}

void TrafficCapture::TellFailure() {
  if (told) return;
  told = true;
  if (onFailure != nullptr) onFailure(file.Reason());
}

}  // namespace tessard
