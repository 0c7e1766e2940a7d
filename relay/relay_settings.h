// The relay's options, read once at start-up from TESSARD.INI in the
// current directory: the four it has always had, then the capture path.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace tessard {

constexpr std::uint32_t kSettingsTextSize = 256;  // 255 characters and the terminator

struct RelaySettings {
  std::uint16_t listenPort = 0;     // host order; the auxiliary port is one above
  std::uint16_t serverPort = 0;     // host order; the auxiliary port is one above
  std::uint32_t serverAddress = 0;  // network order
  char logPath[kSettingsTextSize] = {};
  char capturePath[kSettingsTextSize] = {};  // empty: no capture
  char settingsPath[kSettingsTextSize] = {};
};

// Why the settings path could not be made; nothing was read then.
enum class SettingsPathProblem { kNone, kDirectoryTooLong, kDirectoryUnreadable };

// What start-up has to tell the user about the settings.
struct SettingsOutcome {
  SettingsPathProblem pathProblem = SettingsPathProblem::kNone;
  bool fileUnreadable = false;  // the file exists but could not be read: defaults were taken
  char reason[kSettingsTextSize] = {};      // why the directory or the file could not be read
  bool hostResolved = true;                 // false: serverAddress is 255.255.255.255
  char serverHost[kSettingsTextSize] = {};  // the "IP" value as read
};

// The one process-wide settings record.
extern RelaySettings relaySettings;

// Fills relaySettings from the settings file: its path from the current
// directory, then every option (missing ones take their defaults). Needs
// the socket library started, for host resolution.
SettingsOutcome LoadSettings();

// Reads every option from the file at settings.settingsPath into settings;
// a file that exists but cannot be read gives the defaults, and says so.
SettingsOutcome ReadSettingsFile(RelaySettings& settings);

// Looks a host name up; the first IPv4 address in network order.
using HostLookup = bool (*)(const char* name, std::uint32_t* address);

// A dotted quad as it stands, else the first address of the named host, in
// network order; 0xFFFFFFFF when neither works (resolved is then false).
std::uint32_t ResolveHost(const char* text, bool* resolved = nullptr,
                          HostLookup lookUp = platform::LookUpHost);

// The auxiliary port beside a game port: one above it, in 16 bits, so that
// 65535 has 0 beside it.
std::uint16_t AuxiliaryPort(std::uint16_t gamePort);

// The decimal conversion of the port options: leading white space, an
// optional sign, digits up to the first non-digit (none give 0), and the
// low 16 bits kept.
std::uint16_t ParsePort(const char* text);

}  // namespace tessard
