// The two directions of game traffic and the tags that name them in the log.
#pragma once

namespace tessard {

enum class Direction { kServerToClient, kClientToServer };

// "s2c" or "c2s".
constexpr const char* DirectionTag(Direction direction) {
  return direction == Direction::kServerToClient ? "s2c" : "c2s";
}

}  // namespace tessard
