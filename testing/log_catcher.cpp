#include "testing/log_catcher.h"

#include "log/packet_dump.h"
#include "log/packet_log.h"

namespace tessard::testing {
namespace {

std::string caughtDump;

void CatchDump(const char* text) { caughtDump += text; }

}  // namespace

std::string DumpText(Direction direction, const std::uint8_t* bytes, std::int32_t length) {
  caughtDump.clear();
  SetLogWriter(CatchDump);
  DumpPacket(direction, bytes, length);
  FlushLog();
  SetLogWriter(nullptr);
  return caughtDump;
}

void LogCatchingTest::SetUp() {
  SetLogWriter(Catch);
  FlushLog();
  Written().clear();
}

void LogCatchingTest::TearDown() {
  FlushLog();
  SetLogWriter(nullptr);
  Written().clear();
}

void LogCatchingTest::Catch(const char* text) { Written().emplace_back(text); }

std::vector<std::string>& LogCatchingTest::Written() {
  static std::vector<std::string> pieces;
  return pieces;
}

std::vector<std::string> LogCatchingTest::FlushPieces() {
  FlushLog();
  std::vector<std::string> pieces;
  pieces.swap(Written());
  return pieces;
}

std::string LogCatchingTest::FlushText() {
  std::string text;
  for (const std::string& piece : FlushPieces()) text += piece;
  return text;
}

}  // namespace tessard::testing
