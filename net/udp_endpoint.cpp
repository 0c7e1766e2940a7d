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
}

void UdpEndpoint::SetDestination(const NetAddress& address) { destination.Assign(address); }

void UdpEndpoint::SetDestination(std::uint32_t networkAddress, std::uint16_t hostPort) {
  destination.Set(networkAddress, hostPort);
}

bool UdpEndpoint::Send(const std::uint8_t* bytes, std::int32_t length) {
  return platform::SendTo(socketHandle, bytes, length, &destination) != platform::kSocketError;
}

std::unique_ptr<Datagram> UdpEndpoint::Receive() {
  if (readinessEvent == nullptr) return nullptr;
  if (!platform::WaitReadable(socketHandle, readinessEvent)) return nullptr;
  NetAddress sender;
  std::uint8_t buffer[kMaxDatagramSize];
  const int received = platform::ReceiveFrom(socketHandle, buffer, kMaxDatagramSize, &sender);
  if (received <= 0) return nullptr;
  std::unique_ptr<Datagram> datagram(new (std::nothrow) Datagram(sender, buffer, received));
  // A datagram whose copy could not be made is as lost as one never read.
  if (!datagram || datagram->length != received) return nullptr;
  return datagram;
}

std::uint16_t UdpEndpoint::LocalPort() const {
  return socketHandle == platform::kInvalidSocket ? 0 : platform::LocalPort(socketHandle);
}

bool WaitForDatagram(const UdpEndpoint& first, const UdpEndpoint& second,
                     std::uint32_t milliseconds) {
  const platform::ReadinessWatch watches[] = {{first.socketHandle, first.readinessEvent},
                                              {second.socketHandle, second.readinessEvent}};
  return platform::WaitForReadable(watches, 2, milliseconds);
}

}  // namespace tessard
