#include "platform/profile_reader.h"

#include <cstring>

namespace tessard::platform {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
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

std::string_view Unquote(std::string_view value) {
  if (value.size() >= 2 && value.front() == value.back() &&
      (value.front() == '"' || value.front() == '\'')) {
    return value.substr(1, value.size() - 2);
  }
  return value;
}

std::uint32_t CopyOut(std::string_view value, char* destination, std::uint32_t size) {
  if (size == 0) return 0;
  const std::size_t count = value.size() < size - 1 ? value.size() : size - 1;
  if (count > 0) std::memcpy(destination, value.data(), count);
  destination[count] = '\0';
  return static_cast<std::uint32_t>(count);
}

// The value of key in the first section named section; found is false when
// the key is absent or stands on a line without "=".
std::string_view FindValue(std::string_view contents, std::string_view section,
                           std::string_view key, bool& found) {
  found = false;
  bool inSection = false;
  bool sectionSeen = false;
  while (!contents.empty()) {
    std::string_view line = Trim(NextLine(contents));
    if (line.empty()) continue;
    if (line.front() == '[') {
      const std::size_t close = line.find(']');
      if (close != std::string_view::npos) {
        if (inSection) return {};  // only the first section of that name counts
        const std::string_view name = Trim(line.substr(1, close - 1));
        if (!sectionSeen && EqualsIgnoringCase(name, section)) {
          inSection = true;
          sectionSeen = true;
        }
        continue;
      }
    }
    if (!inSection) continue;
    const std::size_t equals = line.find('=');
    const std::string_view name = Trim(line.substr(0, equals));
    if (!EqualsIgnoringCase(name, key)) continue;
    if (equals == std::string_view::npos) return {};  // a key without a value
    std::string_view value = line.substr(equals + 1);
    const std::size_t nul = value.find('\0');
    if (nul != std::string_view::npos) value = value.substr(0, nul);
    found = true;
    return Unquote(Trim(value));
  }
  return {};
}

}  // namespace

std::uint32_t ReadProfileValue(std::string_view contents, const char* section, const char* key,
                               const char* defaultValue, char* destination, std::uint32_t size) {
  bool found = false;
  const std::string_view value = FindValue(contents, section, key, found);
  if (found) return CopyOut(value, destination, size);
  // Windows drops trailing blanks of the default.
  std::string_view fallback = defaultValue != nullptr ? defaultValue : "";
  while (!fallback.empty() && IsBlank(fallback.back())) fallback.remove_suffix(1);
  return CopyOut(fallback, destination, size);
}

}  // namespace tessard::platform
