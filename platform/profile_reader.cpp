#include "platform/profile_reader.h"

#include <cstring>
#include <string>

namespace tessard::platform {
namespace {

// White space as profile files know it, with ^Z, the DOS end-of-file mark.
bool IsBlank(char c) { return c == ' ' || (c >= '\t' && c <= '\r') || c == '\x1A'; }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// Names and values are C strings once read: a NUL byte ends them.
std::string_view UpToNul(std::string_view text) { return text.substr(0, text.find('\0')); }

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

// The characters of the Western code page (1252) at bytes 0x80 to 0x9F;
// its five unassigned bytes stand for themselves, as Windows maps them.
constexpr std::uint16_t kWesternHighCharacters[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

// One character as the narrow calls give it, in the Western code page;
// characters it lacks become '?' (Windows puts a look-alike letter for
// some of them).
void AppendNarrowed(std::uint32_t codePoint, std::string& text) {
  if (codePoint < 0x80 || (codePoint >= 0xA0 && codePoint <= 0xFF)) {
    text += static_cast<char>(codePoint);
    return;
  }
  for (std::uint32_t i = 0; i < 32; ++i) {
    if (kWesternHighCharacters[i] == codePoint) {
      text += static_cast<char>(0x80 + i);
      return;
    }
  }
  text += '?';
}

std::string NarrowedUtf16(std::string_view units, bool bigEndian) {
  std::string text;
  for (std::size_t i = 0; i + 1 < units.size(); i += 2) {
    const auto first = static_cast<unsigned char>(units[i]);
    const auto second = static_cast<unsigned char>(units[i + 1]);
    AppendNarrowed(bigEndian ? (first << 8u | second) : (second << 8u | first), text);
  }
  return text;
}

std::string NarrowedUtf8(std::string_view bytes) {
  std::string text;
  std::size_t i = 0;
  while (i < bytes.size()) {
    const auto lead = static_cast<unsigned char>(bytes[i]);
    const std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
    std::uint32_t codePoint = length == 1 ? lead : lead & (0x3Fu >> (length - 1));
    bool valid = lead < 0x80 || (lead >= 0xC2 && lead <= 0xF4);
    for (std::size_t k = 1; valid && k < length; ++k) {
      const auto next = i + k < bytes.size() ? static_cast<unsigned char>(bytes[i + k]) : 0u;
      valid = (next & 0xC0u) == 0x80u;
      codePoint = codePoint << 6u | (next & 0x3Fu);
    }
    // Overlong forms, surrogates and code points beyond Unicode are no
    // characters either.
    if (valid && ((length == 3 && codePoint < 0x800) || (length == 4 && codePoint < 0x10000) ||
                  codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF))) {
      valid = false;
    }
    if (!valid) {
      text += '?';
      ++i;
      continue;
    }
    // Beyond 16 bits a character takes two UTF-16 units, and two '?'.
    if (codePoint > 0xFFFF) text += '?';
    AppendNarrowed(codePoint, text);
    i += length;
  }
  return text;
}

// A byte-order mark makes the file UTF-8 or UTF-16; without one the file
// is taken byte for byte.
bool NarrowIfMarked(std::string_view contents, std::string& narrowed) {
  if (contents.substr(0, 3) == "\xEF\xBB\xBF") {
    narrowed = NarrowedUtf8(contents.substr(3));
  } else if (contents.substr(0, 2) == "\xFF\xFE") {
    narrowed = NarrowedUtf16(contents.substr(2), false);
  } else if (contents.substr(0, 2) == "\xFE\xFF") {
    narrowed = NarrowedUtf16(contents.substr(2), true);
  } else {
    return false;
  }
  return true;
}

// Takes the next line off text; lines end at LF, CR LF or a lone CR.
std::string_view NextLine(std::string_view& text) {
  std::size_t end = 0;
  while (end < text.size() && text[end] != '\n' && text[end] != '\r') ++end;
  const std::string_view line = text.substr(0, end);
  std::size_t next = end;
  if (next < text.size()) {
    next += (text[next] == '\r' && next + 1 < text.size() && text[next + 1] == '\n') ? 2 : 1;
  }
  text.remove_prefix(next);
  return line;
}

// The value of key in the first section named section; false when the key
// is absent or stands on a line without "=". Lines before the first header
// form the first section, whose name is empty.
bool FindValue(std::string_view contents, std::string_view section, std::string_view key,
               std::string_view& value) {
  bool inSection = section.empty();
  bool sectionSeen = inSection;
  while (!contents.empty()) {
    const std::string_view line = Trim(NextLine(contents));
    if (line.empty()) continue;
    if (line.front() == '[') {
      // The name runs to the last "]" of the line.
      const std::size_t close = line.rfind(']');
      if (close != std::string_view::npos) {
        if (inSection) return false;  // only the first section of that name counts
        const std::string_view name = UpToNul(Trim(line.substr(1, close - 1)));
        if (!sectionSeen && EqualsIgnoringCase(name, section)) {
          inSection = true;
          sectionSeen = true;
        }
        continue;
      }
    }
    if (!inSection) continue;
    const std::size_t equals = line.find('=');
    if (!EqualsIgnoringCase(UpToNul(Trim(line.substr(0, equals))), key)) continue;
    if (equals == std::string_view::npos) return false;  // a key without a value
    value = UpToNul(Trim(line.substr(equals + 1)));
    return true;
  }
  return false;
}

// Copies value into destination, cut to size - 1 characters, without one
// pair of matching quotes around it. As on Windows, the closing quote is
// taken off the copied text only when the text after the opening quote
// fits in size characters, so a quoted value that exactly fills the buffer
// loses its last character, and a longer one is cut with no quote to lose.
std::uint32_t CopyEntry(std::string_view value, char* destination, std::uint32_t size) {
  if (size == 0) return 0;
  bool quoted = false;
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
      value.back() == value.front()) {
    quoted = true;
    value.remove_prefix(1);
  }
  std::size_t count = value.size() < size - 1 ? value.size() : size - 1;
  if (count > 0) std::memcpy(destination, value.data(), count);
  if (quoted && size >= value.size() && count > 0) --count;
  destination[count] = '\0';
  return static_cast<std::uint32_t>(count);
}

}  // namespace

std::uint32_t ReadProfileValue(std::string_view contents, const char* section, const char* key,
                               const char* defaultValue, char* destination, std::uint32_t size) {
  std::string narrowed;
  if (NarrowIfMarked(contents, narrowed)) contents = narrowed;
  std::string_view value;
  if (FindValue(contents, Trim(section != nullptr ? section : ""), Trim(key != nullptr ? key : ""),
                value)) {
    return CopyEntry(value, destination, size);
  }
  // Windows drops trailing spaces of the default, though never its first
  // character.
  std::string_view fallback = defaultValue != nullptr ? defaultValue : "";
  while (fallback.size() > 1 && fallback.back() == ' ') fallback.remove_suffix(1);
  return CopyEntry(fallback, destination, size);
}

}  // namespace tessard::platform
