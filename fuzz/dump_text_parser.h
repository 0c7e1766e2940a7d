// Reads the packet dumps back out of packet-log text, so that a fuzzer can
// hold what was dumped against what the log says.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "log/direction.h"

namespace tessard::fuzzing {

struct ParsedDump {
  Direction direction;
  std::vector<std::uint8_t> bytes;
};

// Splits log text into its dumps, skipping the one-line notices between
// them. Every dump row must be exact: tag, offset continuing the packet,
// cells, blank padding and an ASCII column that matches the cells; the
// packet must end in an empty line. False, with the reason, otherwise.
bool ParseDumps(std::string_view text, std::vector<ParsedDump>& dumps, std::string& reason);

}  // namespace tessard::fuzzing
