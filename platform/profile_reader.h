// A portable reader of Windows profile files (sections in square brackets,
// key=value lines) that answers as GetPrivateProfileStringA does. Both
// builds compile it, so the Windows tests can hold it against the real call.
#pragma once

#include <cstdint>
#include <string_view>

namespace tessard::platform {

// Looks key up in section of the profile text contents and writes its
// value, or defaultValue when there is none, into destination: at most
// size - 1 characters and a terminator. Returns the characters written.
// Follows GetPrivateProfileStringA in everything a file can hold (line
// ends, blanks, quotes, NUL bytes, byte-order marks, repeated names).
// Nothing outside destination is written, whatever contents holds.
std::uint32_t ReadProfileValue(std::string_view contents, const char* section, const char* key,
                               const char* defaultValue, char* destination, std::uint32_t size);

}  // namespace tessard::platform
