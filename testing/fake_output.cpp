#include "testing/fake_output.h"

#include <algorithm>
#include <cstdio>

namespace tessard::testing {

std::int64_t FakeOutput::Write(const std::uint8_t* bytes, std::uint32_t length, char* reason,
                               std::uint32_t reasonSize) {
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

bool FakeOutput::CutBack(std::uint64_t length, char* reason, std::uint32_t reasonSize) {
  ++cutBacks;
  if (cutBackFails) {
    std::snprintf(reason, reasonSize, "Illegal seek");
    return false;
  }
  file.resize(static_cast<std::size_t>(length));
  return true;
}

bool FakeOutput::Close(char* reason, std::uint32_t reasonSize) {
  ++closes;
  if (!closeFails) return true;
  std::snprintf(reason, reasonSize, "Input/output error");
  return false;
}

}  // namespace tessard::testing
