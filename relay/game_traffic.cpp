#include "relay/game_traffic.h"

#include <cstdio>

#include "log/packet_dump.h"
#include "log/packet_log.h"
#include "util/arithmetic.h"
#include "util/byte_readers.h"

namespace tessard {

bool decryptionEnabled = false;
bool keyRequested = false;
SessionCipher sessionCipher;

namespace {

// The private copy of the current game datagram. A datagram overwrites
// only as many bytes as it has.
struct WorkCopy {
  std::uint8_t bytes[kMaxDatagramSize];
  std::int32_t length;
};

WorkCopy workCopy;

constexpr std::uint8_t kKeyRequest = 0x01;
constexpr std::uint8_t kKeyResponse = 0x02;
constexpr std::uint8_t kDisconnect = 0x07;
constexpr std::int32_t kKeyRequestLength = 8;
constexpr std::int32_t kKeyResponseMinimum = 6;  // type and a 32-bit key
constexpr char kDecryptionEnabled[] = "SubSpace decryption enabled.";

// The event of the datagram in hand. The log line is made from this text,
// so that the capture's comment and the log always say the same.
char eventText[PacketLog::kSlotSize];

// An event's log line: the tag, spaces up to the dump rows' first hex cell,
// the text.
void LogEvent(Direction direction, const char* text) {
  LogFormat("%s       %s\n", DirectionTag(direction), text);
}

// The packet type of the working copy, or 0 when it carries none. A
// datagram shorter than two bytes carries none: whatever an earlier
// datagram left in the copy must not be taken for this one's type.
std::uint8_t PacketType() {
  if (workCopy.length < 2 || workCopy.bytes[0] != 0x00) return 0;
  return workCopy.bytes[1];
}

std::int32_t KeyInWorkCopy() { return static_cast<std::int32_t>(GetU32(workCopy.bytes, 2)); }

bool IsKeyRequest(std::uint8_t type) {
  return type == kKeyRequest && workCopy.length == kKeyRequestLength;
}

bool IsKeyResponse(std::uint8_t type) {
  return type == kKeyResponse && workCopy.length >= kKeyResponseMinimum;
}

// Key requests and the key responses that answer them travel in the clear,
// even on a connection that is encrypted already: a client that connects
// again without a disconnect (it crashed, its network dropped) starts a new
// exchange while the old keys are still in force. Everything else is read
// through the keys in force, so what was still in flight under the old
// keys is read right. The cipher leaves the type bytes as they are.
bool TravelsInTheClear(Direction direction) {
  const std::uint8_t type = PacketType();
  return direction == Direction::kClientToServer ? IsKeyRequest(type)
                                                 : IsKeyResponse(type) && keyRequested;
}

void RepeatDisconnect(const Datagram& datagram, UdpEndpoint& endpoint) {
  endpoint.Send(datagram.bytes.get(), datagram.length);  // its result, too, is not examined
  decryptionEnabled = false;
}

const char* InspectFromServer(const Datagram& datagram, UdpEndpoint& endpoint) {
  const std::uint8_t type = PacketType();
  if (IsKeyResponse(type)) {
    // While decryption is on, only the answer to a new key request counts.
    if (!decryptionEnabled || keyRequested) {
      sessionCipher.SetServerKey(KeyInWorkCopy());
      decryptionEnabled = true;
      keyRequested = false;
      LogEvent(Direction::kServerToClient, kDecryptionEnabled);
      return kDecryptionEnabled;
    }
  } else if (type == kDisconnect) {
    RepeatDisconnect(datagram, endpoint);
  }
  return nullptr;
}

const char* InspectFromClient(const Datagram& datagram, UdpEndpoint& endpoint) {
  const std::uint8_t type = PacketType();
  if (IsKeyRequest(type)) {
    sessionCipher.clientKey = KeyInWorkCopy();
    keyRequested = true;
    std::snprintf(eventText, sizeof(eventText), "Connection from %s:%i (proto %i)",
                  datagram.source.FormatAddress(), static_cast<int>(datagram.source.HostPort()),
                  static_cast<int>(static_cast<std::int8_t>(workCopy.bytes[6])));
    LogEvent(Direction::kClientToServer, eventText);
    return eventText;
  }
  if (type == kDisconnect) RepeatDisconnect(datagram, endpoint);
  return nullptr;
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
}

InspectedDatagram InspectGameDatagram(const Datagram& datagram, Direction direction,
                                      UdpEndpoint& endpoint) {
  // Decrypted only now that the direction is known: a key request is one
  // only from the client.
  if (decryptionEnabled && !TravelsInTheClear(direction)) {
    sessionCipher.Decrypt(workCopy.bytes, static_cast<std::uint32_t>(workCopy.length));
  }
  const char* event = direction == Direction::kServerToClient
                          ? InspectFromServer(datagram, endpoint)
                          : InspectFromClient(datagram, endpoint);
  DumpPacket(direction, workCopy.bytes, workCopy.length);
  return {workCopy.bytes, workCopy.length, event};
}

void FinishInspection() { FlushLog(); }

}  // namespace tessard
