// The scrambler on arbitrary text: Unscramble with the start key (the XOR
// of the text's bytes) gives the text back whenever no scrambled byte is
// the escape value 237, and for even lengths so does UnscrambleInPlace.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz/fuzz_check.h"
#include "util/scrambler.h"

using tessard::fuzzing::Check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string text;
  std::uint8_t startKey = 0;
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] == 0) continue;  // the text is zero-terminated
    text += static_cast<char>(data[i]);
    startKey ^= data[i];
  }
  std::string scrambled(text.size() + 1, '\x55');
  tessard::Scramble(text.c_str(), scrambled.data());
  Check(scrambled[text.size()] == '\0', "scrambled text not terminated");
  Check(std::strlen(scrambled.c_str()) == text.size(), "scrambled text changed length");
  if (scrambled.find('\xED') != std::string::npos) return 0;

  std::string plain(text.size(), '\x55');
  tessard::Unscramble(scrambled.c_str(), plain.data(), startKey);
  Check(plain == text, "Unscramble with the start key does not give the text");
  if (text.size() % 2 == 0) {
    std::string inPlace = scrambled;
    tessard::UnscrambleInPlace(inPlace.data());
    Check(inPlace.substr(0, text.size()) == text, "UnscrambleInPlace differs for an even length");
  }
  return 0;
}
