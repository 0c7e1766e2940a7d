#include "net/udp_endpoint.h"

#include <cstring>
#include <new>

namespace tessard {

UdpEndpoint::~UdpEndpoint() { Close(); }

std::int32_t UdpEndpoint::Open(std::uint16_t port) {
  Close();
  socketHandle = platform::OpenUdpSocket();
  if (socketHandle == platform::kInvalidSocket) return platform::LastSocketError();
  const NetAddress local(0, port);  // INADDR_ANY
  if (platform::BindSocket(socketHandle, &local) == platform::kSocketError) {
    return platform::LastSocketError();  // unbound: the socket stays until released
  }
  platform::WidenSocketBuffers(socketHandle, kSocketBufferBytes);
  localPort = platform::LocalPort(socketHandle);
  readinessEvent = platform::CreateReadinessEvent();
  platform::SelectForReading(socketHandle, readinessEvent);
  return static_cast<std::int32_t>(socketHandle);
}

void UdpEndpoint::Close() {
  if (socketHandle == platform::kInvalidSocket) return;
  if (readinessEvent != nullptr) platform::CloseReadinessEvent(readinessEvent);
  readinessEvent = nullptr;
  platform::CloseSocket(socketHandle);
  socketHandle = platform::kInvalidSocket;
  localPort = 0;
}

void UdpEndpoint::SetDestination(const NetAddress& address) { destination.Assign(address); }

void UdpEndpoint::SetDestination(std::uint32_t networkAddress, std::uint16_t hostPort) {
  destination.Set(networkAddress, hostPort);
}

bool UdpEndpoint::Send(const std::uint8_t* bytes, std::int32_t length) {
  return platform::SendTo(socketHandle, bytes, length, &destination) != platform::kSocketError;
}

std::unique_ptr<Datagram> UdpEndpoint::Receive() {
  // The socket is asked every time, never the readiness event: the wait may
  // have taken the event's signal, and a socket that is not read again would
  // never signal again.
  if (readinessEvent == nullptr) return nullptr;
  NetAddress sender;
  std::uint8_t buffer[kMaxDatagramSize];
  const int received = platform::ReceiveFrom(socketHandle, buffer, kMaxDatagramSize, &sender);
  if (received <= 0) return nullptr;
  std::unique_ptr<Datagram> datagram(new (std::nothrow) Datagram(sender, buffer, received));
  // A datagram whose copy could not be made is as lost as one never read.
  if (!datagram || datagram->length != received) return nullptr;
  return datagram;
}

int UdpEndpoint::ReceiveBufferBytes() const {
  return IsBound() ? platform::ReceiveBufferBytes(socketHandle) : 0;
}

int UdpEndpoint::ReceiveBatch(DatagramBatch& batch) {
  batch.count = 0;
  if (readinessEvent == nullptr) return 0;
  platform::DatagramSlot slots[DatagramBatch::kCapacity];
  for (int i = 0; i < DatagramBatch::kCapacity; ++i) {
    DatagramBatch::Entry& entry = batch.entries[i];
    slots[i] = {entry.bytes, kMaxDatagramSize, &entry.source};
  }
  const int received = platform::ReceiveDatagrams(socketHandle, slots, DatagramBatch::kCapacity);
  for (int i = 0; i < received; ++i) {
    if (slots[i].length <= 0) continue;  // empty or refused: dropped
    DatagramBatch::Entry& entry = batch.entries[batch.count];
    if (batch.count != i) {
      const DatagramBatch::Entry& taken = batch.entries[i];
      entry.source = taken.source;
      std::memcpy(entry.bytes, taken.bytes, static_cast<std::size_t>(slots[i].length));
    }
    entry.length = slots[i].length;
    ++batch.count;
  }
  return batch.count;
}

void UdpEndpoint::Queue(const std::uint8_t* bytes, std::int32_t length) {
  if (queuedCount == kQueueCapacity) SendQueued();
  queuedTo[queuedCount] = destination;
  queued[queuedCount] = {const_cast<std::uint8_t*>(bytes), length, &queuedTo[queuedCount]};
  ++queuedCount;
}

void UdpEndpoint::SendQueued() {
  // Failed sends are not retried, as with Send.
  if (queuedCount > 0) platform::SendDatagrams(socketHandle, queued, queuedCount);
  queuedCount = 0;
}

Wakeup WaitForDatagram(const UdpEndpoint& first, const UdpEndpoint& second,
                       std::uint32_t milliseconds) {
  const platform::ReadinessWatch watches[] = {{first.socketHandle, first.readinessEvent},
                                              {second.socketHandle, second.readinessEvent}};
  const platform::Readiness ready = platform::WaitForReadable(watches, 2, milliseconds);
  return {(ready & 1u) != 0, (ready & 2u) != 0, (ready & platform::kLookAtKeyboard) != 0};
}

}  // namespace tessard
