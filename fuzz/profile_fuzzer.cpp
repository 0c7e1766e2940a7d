// The settings reader on arbitrary bytes as a TESSARD.INI: it answers
// within its buffer, terminated, with the count it returns.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "platform/profile_reader.h"

using tessard::fuzzing::Check;

// The first byte picks the buffer size (1 to 64) and the question; the rest
// is the file.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  static const char* const kQuestions[][2] = {
      {"Proxy", "Port"}, {"Server", "IP"}, {"Server", "Port"}, {"Proxy", "Log"}};
  const std::uint32_t bufferSize = 1u + (data[0] & 0x3Fu);
  const auto& question = kQuestions[data[0] >> 6];
  const std::string_view contents(reinterpret_cast<const char*>(data + 1), size - 1);

  for (const char* fallback : {"", "a default longer than the smallest buffers"}) {
    auto destination = std::make_unique<char[]>(bufferSize);
    const std::uint32_t written = tessard::platform::ReadProfileValue(
        contents, question[0], question[1], fallback, destination.get(), bufferSize);
    Check(written < bufferSize, "more characters than the buffer holds");
    Check(destination[written] == '\0', "not terminated after the count");
    Check(std::strlen(destination.get()) == written, "count differs from the text");
  }
  return 0;
}
