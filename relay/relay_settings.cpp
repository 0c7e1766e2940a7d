#include "relay/relay_settings.h"

#include <cstdio>
#include <cstring>

#include "platform/platform.h"

namespace tessard {
namespace {

constexpr char kSettingsFileName[] = "TESSARD.INI";
constexpr std::uint32_t kNoAddress = 0xFFFFFFFF;

void ReadOption(const char* section, const char* key, const char* defaultValue, char* destination,
                const char* path) {
  platform::ReadProfileString(section, key, defaultValue, destination, kSettingsTextSize, path);
}

bool IsWhiteSpace(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

}  // namespace

RelaySettings relaySettings;

std::uint16_t ParsePort(const char* text) {
  while (IsWhiteSpace(*text)) ++text;
  const bool negative = *text == '-';
  if (*text == '-' || *text == '+') ++text;
  // Like the C runtime's conversion, a number beyond the 32-bit range
  // saturates instead of overflowing.
  constexpr std::int64_t kLimit = 2147483648LL;
  std::int64_t magnitude = 0;
  for (; *text >= '0' && *text <= '9'; ++text) {
    magnitude = magnitude * 10 + (*text - '0');
    if (magnitude > kLimit) magnitude = kLimit;
  }
  std::int64_t value = negative ? -magnitude : magnitude;
  if (value > kLimit - 1) value = kLimit - 1;
  return static_cast<std::uint16_t>(static_cast<std::uint64_t>(value) & 0xFFFFu);
}

std::uint16_t AuxiliaryPort(std::uint16_t gamePort) {
  return static_cast<std::uint16_t>(gamePort + 1u);
}

std::uint32_t ResolveHost(const char* text, bool* resolved, HostLookup lookUp) {
  std::uint32_t address = platform::ParseDottedQuad(text);
  const bool found = address != kNoAddress || lookUp(text, &address);
  if (!found) address = kNoAddress;
  if (resolved != nullptr) *resolved = found;
  return address;
}

SettingsOutcome ReadSettingsFile(RelaySettings& settings) {
  SettingsOutcome outcome;
  const char* path = settings.settingsPath;
  outcome.fileUnreadable = platform::CheckReadable(path, outcome.reason, sizeof(outcome.reason)) ==
                           platform::FileAccess::kUnreadable;
  char value[kSettingsTextSize];
  ReadOption("Proxy", "Log", "packets.txt", settings.logPath, path);
  ReadOption("Proxy", "Port", "15000", value, path);
  settings.listenPort = ParsePort(value);
  ReadOption("Server", "IP", "127.0.0.1", outcome.serverHost, path);
  settings.serverAddress = ResolveHost(outcome.serverHost, &outcome.hostResolved);
  ReadOption("Server", "Port", "382", value, path);
  settings.serverPort = ParsePort(value);
  // Read last, so that the four older keys are asked for as they always were.
  ReadOption("Proxy", "Capture", "", settings.capturePath, path);
  return outcome;
}

SettingsOutcome LoadSettings() {
  char* path = relaySettings.settingsPath;
  const std::uint32_t directoryLength = platform::CurrentDirectory(path, kSettingsTextSize);
  const std::size_t suffixLength =
      std::strlen(platform::PathSeparator()) + sizeof(kSettingsFileName) - 1;
  if (directoryLength == 0 || directoryLength + suffixLength >= kSettingsTextSize) {
    SettingsOutcome refused;
    if (directoryLength == 0) {
      refused.pathProblem = SettingsPathProblem::kDirectoryUnreadable;
      platform::LastSystemErrorText(refused.reason, sizeof(refused.reason));
    } else {
      refused.pathProblem = SettingsPathProblem::kDirectoryTooLong;
    }
    path[0] = '\0';
    return refused;
  }
  std::snprintf(path + directoryLength, kSettingsTextSize - directoryLength, "%s%s",
                platform::PathSeparator(), kSettingsFileName);
  return ReadSettingsFile(relaySettings);
}

}  // namespace tessard
