// A reversible scrambling of zero-terminated text: XOR with an 8-bit running
// key that starts at the XOR of the text's bytes. It hides text from casual
// reading only.
#pragma once

#include <cstdint>

namespace tessard {

// Writes the scrambled form of source, as long as source and free of zero
// bytes (a scrambled 0 is stored as 237), and a terminating zero;
// destination needs room for both.
void Scramble(const char* source, char* destination);

// Decodes the scrambled source with the start key into destination: as many
// bytes as source has, and no terminating zero.
void Unscramble(const char* source, char* destination, std::uint8_t key);

// True for bytes 0..32 and 127..255: space and control bytes count too.
bool IsUnprintable(std::uint8_t b);

// Overwrites the scrambled text with its decoding, length kept. The start
// key is exact for even lengths; for odd lengths it is the first whose
// decoding is wholly printable, or 255 when none is. The text stays as it
// is when no working buffer can be had.
void UnscrambleInPlace(char* text);

}  // namespace tessard
