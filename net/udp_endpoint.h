// A UDP socket bound to one local port on every local address, with its
// readiness event (for the wait between passes) and the address it
// currently sends to.
#pragma once

#include <cstdint>
#include <memory>

#include "net/datagram.h"
#include "net/net_address.h"
#include "platform/platform.h"

namespace tessard {

// The largest datagram an endpoint delivers; longer ones are refused whole.
constexpr std::int32_t kMaxDatagramSize = 520;
// Each socket's receive and send buffers: a burst that arrives while the
// relay is kept off the processor for a moment (a busy machine, a slow disk
// under the log) waits in the socket instead of being dropped. The default
// (208 KiB on Linux, 64 KiB on Windows) holds a tenth of a second of
// 10,000 datagrams a second at best.
constexpr int kSocketBufferBytes = 1 << 20;

struct Wakeup;

// The datagrams taken from an endpoint at one wake-up, each with its
// sender, in the order they arrived.
struct DatagramBatch {
  static constexpr int kCapacity = 64;
  struct Entry {
    NetAddress source;
    std::int32_t length;
    std::uint8_t bytes[kMaxDatagramSize];
  };
  Entry entries[kCapacity];
  int count = 0;
};

class UdpEndpoint {
 public:
  UdpEndpoint() = default;
  ~UdpEndpoint();
  UdpEndpoint(const UdpEndpoint&) = delete;
  UdpEndpoint& operator=(const UdpEndpoint&) = delete;

  // Releases what the endpoint holds, then binds a new socket to port on
  // every local address, with buffers of kSocketBufferBytes (as far as the
  // system allows). Returns the socket handle on success and the
  // socket library's error code on failure; IsBound() tells which.
  std::int32_t Open(std::uint16_t port);
  // Releases the event, then the socket.
  void Close();

  void SetDestination(const NetAddress& address);
  void SetDestination(std::uint32_t networkAddress, std::uint16_t hostPort);
  const NetAddress& Destination() const { return destination; }

  // One datagram to the current destination, unchanged; false when the
  // socket library refused it.
  bool Send(const std::uint8_t* bytes, std::int32_t length);
  // The next queued datagram of 1 to kMaxDatagramSize bytes, or none; never
  // waits. One non-blocking receive on the socket itself, whatever the wait
  // last found. Empty, oversized and unreadable datagrams are dropped
  // silently.
  std::unique_ptr<Datagram> Receive();

  // Takes every queued datagram of 1 to kMaxDatagramSize bytes, up to the
  // batch's capacity, in one system call where the platform has one; never
  // waits. Empty, oversized and unreadable datagrams are dropped silently,
  // as Receive drops them. The number taken.
  int ReceiveBatch(DatagramBatch& batch);
  // Queues one datagram to the current destination; queued datagrams go
  // out, in order, at SendQueued (or when the queue is full). The bytes
  // must stay as they are until then.
  void Queue(const std::uint8_t* bytes, std::int32_t length);
  void SendQueued();

  // True after an Open that bound its socket.
  bool IsBound() const { return readinessEvent != nullptr; }
  // The receive buffer the system gave the socket, in its own accounting
  // (see platform::ReceiveBufferBytes); 0 when there is none.
  int ReceiveBufferBytes() const;
  // The bound port in host order, 0 when there is none.
  std::uint16_t LocalPort() const { return localPort; }

  friend Wakeup WaitForDatagram(const UdpEndpoint& first, const UdpEndpoint& second,
                                std::uint32_t milliseconds);

 private:
  platform::SocketHandle socketHandle = platform::kInvalidSocket;
  platform::EventHandle readinessEvent = nullptr;
  NetAddress destination;
  std::uint16_t localPort = 0;  // asked once, at Open: the relay loop checks it per datagram
  // Room for a batch's datagrams, each forwarded and some sent twice.
  static constexpr int kQueueCapacity = 2 * DatagramBatch::kCapacity;
  platform::DatagramSlot queued[kQueueCapacity];
  NetAddress queuedTo[kQueueCapacity];
  int queuedCount = 0;
};

// What a wait found: which endpoints to receive from, and whether to look
// at the keyboard (see platform::WaitForReadable).
struct Wakeup {
  bool first;
  bool second;
  bool keyboard;
};

// Waits until a datagram is queued on either endpoint, a key waits (once
// the keyboard is watched), a stop is requested or milliseconds pass,
// whichever comes first; one queued before the call ends it at once. An
// endpoint that is not bound is not waited on, and never to be received
// from.
Wakeup WaitForDatagram(const UdpEndpoint& first, const UdpEndpoint& second,
                       std::uint32_t milliseconds);

}  // namespace tessard
