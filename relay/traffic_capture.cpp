#include "relay/traffic_capture.h"

namespace tessard {
namespace {

CaptureEndpoint EndpointOf(const NetAddress& address) {
  return {address.address, address.HostPort()};
}

}  // namespace

bool TrafficCapture::Open(const char* path, OutputWriter::FailureHandler onFailure) {
  return file.Open(path, onFailure) || file.IsOpen();
}

void TrafficCapture::Start(std::unique_ptr<OutputTarget> target,
                           OutputWriter::FailureHandler onFailure) {
  file.Start(std::move(target), onFailure);
}

void TrafficCapture::RecordGame(std::uint64_t receivedAt, const NetAddress& source,
                                const NetAddress& destination, Direction direction,
                                const InspectedDatagram& inspected) {
  CapturedDatagram record;
  record.interface = CaptureInterface::kGame;
  record.payload = inspected.payload;
  record.length = static_cast<std::size_t>(inspected.length);
  record.comment = inspected.event;
  Record(record, receivedAt, source, destination, direction);
}

void TrafficCapture::RecordAuxiliary(std::uint64_t receivedAt, const NetAddress& source,
                                     const std::uint8_t* bytes, std::int32_t length,
                                     const NetAddress& destination, Direction direction) {
  CapturedDatagram record;
  record.interface = CaptureInterface::kAuxiliary;
  record.payload = bytes;
  record.length = static_cast<std::size_t>(length);
  Record(record, receivedAt, source, destination, direction);
}

void TrafficCapture::Record(CapturedDatagram& record, std::uint64_t receivedAt,
                            const NetAddress& source, const NetAddress& destination,
                            Direction direction) {
  record.timestampMicroseconds = receivedAt;
  record.source = EndpointOf(source);
  record.destination = EndpointOf(destination);
  // The client's point of view: what it sends goes out.
  record.direction = direction == Direction::kClientToServer ? CaptureDirection::kOutbound
                                                             : CaptureDirection::kInbound;
  file.Record(record);  // a failure is told by the file, once
}

}  // namespace tessard
