#include "relay/game_traffic.h"

#include "log/packet_dump.h"
#include "log/packet_log.h"
#include "util/arithmetic.h"
#include "util/byte_readers.h"

namespace tessard {

bool decryptionEnabled = false;
SessionCipher sessionCipher;
WorkCopy workCopy;

namespace {

constexpr std::uint8_t kKeyRequest = 0x01;
constexpr std::uint8_t kKeyResponse = 0x02;
constexpr std::uint8_t kDisconnect = 0x07;
constexpr std::int32_t kKeyRequestLength = 8;
constexpr std::int32_t kKeyResponseMinimum = 6;  // type and a 32-bit key

// The packet type of the working copy, or 0 when it carries none. A
// datagram shorter than two bytes carries none: whatever an earlier
// datagram left in the copy must not be taken for this one's type.
std::uint8_t PacketType() {
  if (workCopy.length < 2 || workCopy.bytes[0] != 0x00) return 0;
  return workCopy.bytes[1];
}

std::int32_t KeyInWorkCopy() { return static_cast<std::int32_t>(GetU32(workCopy.bytes, 2)); }

void RepeatDisconnect(const Datagram& datagram, UdpEndpoint& endpoint) {
  endpoint.Send(datagram.bytes.get(), datagram.length);  // its result, too, is not examined
  decryptionEnabled = false;
}

void InspectFromServer(const Datagram& datagram, UdpEndpoint& endpoint) {
  const std::uint8_t type = PacketType();
  if (type == kKeyResponse && workCopy.length >= kKeyResponseMinimum) {
    if (!decryptionEnabled) {
      sessionCipher.SetServerKey(KeyInWorkCopy());
      decryptionEnabled = true;
      LogFormat("s2c       SubSpace decryption enabled.\n");
    }
  } else if (type == kDisconnect) {
    RepeatDisconnect(datagram, endpoint);
  }
}

void InspectFromClient(const Datagram& datagram, UdpEndpoint& endpoint) {
  const std::uint8_t type = PacketType();
  if (type == kKeyRequest && workCopy.length == kKeyRequestLength) {
    sessionCipher.clientKey = KeyInWorkCopy();
    LogFormat("c2s       Connection from %s:%i (proto %i)\n", datagram.source.FormatAddress(),
              static_cast<int>(datagram.source.HostPort()),
              static_cast<int>(static_cast<std::int8_t>(workCopy.bytes[6])));
  } else if (type == kDisconnect) {
    RepeatDisconnect(datagram, endpoint);
  }
}

}  // namespace

void PrepareWorkCopy(const Datagram& datagram) {
  const std::int32_t length =
      datagram.length < 0
          ? 0
          : (datagram.length > kMaxDatagramSize ? kMaxDatagramSize : datagram.length);
  if (length > 0) {
    CopyBytes(datagram.bytes.get(), workCopy.bytes, static_cast<std::uint32_t>(length));
  }
  workCopy.length = length;
  if (decryptionEnabled) {
    sessionCipher.Decrypt(workCopy.bytes, static_cast<std::uint32_t>(workCopy.length));
  }
}

void InspectGameDatagram(const Datagram& datagram, Direction direction, UdpEndpoint& endpoint) {
  if (direction == Direction::kServerToClient) {
    InspectFromServer(datagram, endpoint);
  } else {
    InspectFromClient(datagram, endpoint);
  }
  DumpPacket(direction, workCopy.bytes, workCopy.length);
}

void FinishInspection() { FlushLog(); }

}  // namespace tessard
