// An output that keeps what it is given in memory and fails as files and
// pipes do, when told to: its room runs out (a write takes what fits, the
// next one fails), it takes a few bytes per call, cutting back or closing
// fails.
#pragma once

#include <cstdint>
#include <string>

#include "platform/output_writer.h"

namespace tessard::testing {

class FakeOutput : public OutputTarget {
 public:
  std::int64_t Write(const std::uint8_t* bytes, std::uint32_t length, char* reason,
                     std::uint32_t reasonSize) override;
  bool CutBack(std::uint64_t length, char* reason, std::uint32_t reasonSize) override;
  bool Close(char* reason, std::uint32_t reasonSize) override;

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
