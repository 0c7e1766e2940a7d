// An output that keeps what it is given in memory and fails as files and
// pipes do, when told to: its room runs out (a write takes what fits, the
// next one fails), it takes a few bytes per call, cutting back or closing
// fails.
#pragma once

#include <algorithm>
#include <cstdio>
#include <string>

#include "platform/output_writer.h"

namespace tessard::testing {

class FakeOutput : public OutputTarget {
 public:
  std::int64_t Write(const std::uint8_t* bytes, std::uint32_t length, char* reason,
                     std::uint32_t reasonSize) override {
    ++writes;
    if (room == 0) {
      std::snprintf(reason, reasonSize, "No space left on device");
      return -1;
    }
    const std::size_t taken = std::min({std::size_t{length}, room, perWrite});
    file.append(reinterpret_cast<const char*>(bytes), taken);
    if (room != std::string::npos) room -= taken;
    return static_cast<std::int64_t>(taken);
  }

  bool CutBack(std::uint64_t length, char* reason, std::uint32_t reasonSize) override {
    ++cutBacks;
    if (cutBackFails) {
      std::snprintf(reason, reasonSize, "Illegal seek");
      return false;
    }
    file.resize(static_cast<std::size_t>(length));
    return true;
  }

  bool Close(char* reason, std::uint32_t reasonSize) override {
    ++closes;
    if (!closeFails) return true;
    std::snprintf(reason, reasonSize, "Input/output error");
    return false;
  }

  std::string file;
  std::size_t room = std::string::npos;      // bytes it takes before it fails
  std::size_t perWrite = std::string::npos;  // bytes it takes in one call at most
  bool cutBackFails = false;
  bool closeFails = false;
  int writes = 0;
  int cutBacks = 0;
  int closes = 0;
};

}  // namespace tessard::testing
