#include "net/udp_endpoint.h"

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

bool WaitForDatagram(const UdpEndpoint& first, const UdpEndpoint& second,
                     std::uint32_t milliseconds) {
  const platform::ReadinessWatch watches[] = {{first.socketHandle, first.readinessEvent},
                                              {second.socketHandle, second.readinessEvent}};
  return platform::WaitForReadable(watches, 2, milliseconds);
}

}  // namespace tessard
