#include "testing/log_capture.h"

#include "log/packet_dump.h"

namespace tessard::testing {
namespace {

std::string captured;

void Capture(const char* text) { captured += text; }

}  // namespace

std::string DumpText(Direction direction, const std::uint8_t* bytes, std::int32_t length) {
  captured.clear();
  SetLogWriter(Capture);
  DumpPacket(direction, bytes, length);
  FlushLog();
  SetLogWriter(nullptr);
  return captured;
}

}  // namespace tessard::testing
