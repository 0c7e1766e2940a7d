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

// The packet type of a working copy, or 0 when it carries none. A datagram
// shorter than two bytes carries none: whatever an earlier datagram left in
// the copy must not be taken for this one's type.
std::uint8_t PacketType(const std::uint8_t* copy, std::int32_t length) {
  if (length < 2 || copy[0] != 0x00) return 0;
  return copy[1];
}

bool IsKeyRequest(std::uint8_t type, std::int32_t length) {
  return type == kKeyRequest && length == kKeyRequestLength;
}

bool IsKeyResponse(std::uint8_t type, std::int32_t length) {
  return type == kKeyResponse && length >= kKeyResponseMinimum;
}

// Key requests and the key responses that answer them travel in the clear,
// even on a connection that is encrypted already: a client that connects
// again without a disconnect (it crashed, its network dropped) starts a new
// exchange while the old keys are still in force. Everything else is read
// through the keys in force, so what was still in flight under the old
// keys is read right. The cipher leaves the type bytes as they are.
bool TravelsInTheClear(const std::uint8_t* copy, std::int32_t length, Direction direction) {
  const std::uint8_t type = PacketType(copy, length);
  return direction == Direction::kClientToServer ? IsKeyRequest(type, length)
                                                 : IsKeyResponse(type, length) && keyRequested;
}

GameVerdict FollowFromServer(const std::uint8_t* copy, std::int32_t length) {
  const std::uint8_t type = PacketType(copy, length);
  if (IsKeyResponse(type, length)) {
    // While decryption is on, only the answer to a new key request counts.
    if (!decryptionEnabled || keyRequested) {
      sessionCipher.SetServerKey(static_cast<std::int32_t>(GetU32(copy, 2)));
      decryptionEnabled = true;
      keyRequested = false;
      return {GameEvent::kDecryptionEnabled, false};
    }
  } else if (type == kDisconnect) {
    decryptionEnabled = false;
    return {GameEvent::kNone, true};
  }
  return {GameEvent::kNone, false};
}

GameVerdict FollowFromClient(const std::uint8_t* copy, std::int32_t length) {
  const std::uint8_t type = PacketType(copy, length);
  if (IsKeyRequest(type, length)) {
    sessionCipher.clientKey = static_cast<std::int32_t>(GetU32(copy, 2));
    keyRequested = true;
    return {GameEvent::kConnection, false};
  }
  if (type == kDisconnect) {
    decryptionEnabled = false;
    return {GameEvent::kNone, true};
  }
  return {GameEvent::kNone, false};
}

}  // namespace

std::int32_t CopyForInspection(const std::uint8_t* bytes, std::int32_t length, std::uint8_t* copy) {
  const std::int32_t kept =
      length < 0 ? 0 : (length > kMaxDatagramSize ? kMaxDatagramSize : length);
  if (kept > 0) CopyBytes(bytes, copy, static_cast<std::uint32_t>(kept));
  return kept;
}

GameVerdict FollowGameDatagram(std::uint8_t* copy, std::int32_t length, Direction direction) {
  // Decrypted only now that the direction is known: a key request is one
  // only from the client.
  if (decryptionEnabled && !TravelsInTheClear(copy, length, direction)) {
    sessionCipher.Decrypt(copy, static_cast<std::uint32_t>(length));
  }
  return direction == Direction::kServerToClient ? FollowFromServer(copy, length)
                                                 : FollowFromClient(copy, length);
}

InspectedDatagram LogGameDatagram(const NetAddress& source, Direction direction,
                                  const std::uint8_t* copy, std::int32_t length, GameEvent event) {
  const char* text = nullptr;
  if (event == GameEvent::kDecryptionEnabled) {
    text = kDecryptionEnabled;
  } else if (event == GameEvent::kConnection) {
    std::snprintf(eventText, sizeof(eventText), "Connection from %s:%i (proto %i)",
                  source.FormatAddress(), static_cast<int>(source.HostPort()),
                  static_cast<int>(static_cast<std::int8_t>(copy[6])));
    text = eventText;
  }
  if (text != nullptr) LogEvent(direction, text);
  DumpPacket(direction, copy, length);
  return {copy, length, text};
}

void PrepareWorkCopy(const Datagram& datagram) {
  workCopy.length = CopyForInspection(datagram.bytes.get(), datagram.length, workCopy.bytes);
}

InspectedDatagram InspectGameDatagram(const Datagram& datagram, Direction direction,
                                      UdpEndpoint& endpoint) {
  const GameVerdict verdict = FollowGameDatagram(workCopy.bytes, workCopy.length, direction);
  // Its result, too, is not examined.
  if (verdict.repeat) endpoint.Send(datagram.bytes.get(), datagram.length);
  return LogGameDatagram(datagram.source, direction, workCopy.bytes, workCopy.length,
                         verdict.event);
}

void FinishInspection() { FlushLog(); }

}  // namespace tessard
