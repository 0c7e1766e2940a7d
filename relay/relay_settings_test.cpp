#include "relay/relay_settings.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/platform.h"
#include "testing/loopback.h"
#include "testing/scratch_directory.h"

namespace tessard {
namespace {

class SettingsFileTest : public ::testing::Test {
 protected:
  RelaySettings Read(const std::string& contents, SettingsOutcome* outcome = nullptr) {
    const std::filesystem::path path = scratch.Path() / "TESSARD.INI";
    std::ofstream(path, std::ios::binary) << contents;
    RelaySettings settings;
    std::snprintf(settings.settingsPath, sizeof(settings.settingsPath), "%s",
                  path.string().c_str());
    const SettingsOutcome result = ReadSettingsFile(settings);
    if (outcome != nullptr) *outcome = result;
    return settings;
  }

  testing::SocketLibraryScope socketLibrary;  // host names are resolved through it
  const testing::ScratchDirectory scratch{"settings"};
};

TEST_F(SettingsFileTest, DefaultsWhenFileSectionOrKeyIsMissing) {
  for (const char* contents : {"", "[Other]\nPort=1\n", "[Proxy]\n[Server]\n"}) {
    const RelaySettings settings = Read(contents);
    EXPECT_EQ(settings.listenPort, 15000);
    EXPECT_EQ(settings.serverPort, 382);
    EXPECT_EQ(settings.serverAddress, platform::ParseDottedQuad("127.0.0.1"));
    EXPECT_STREQ(settings.logPath, "packets.txt");
    EXPECT_STREQ(settings.capturePath, "");
  }
}

TEST_F(SettingsFileTest, ReadsEveryOption) {
  SettingsOutcome outcome;
  const RelaySettings settings = Read(
      "[proxy]\r\nlog = \"my log.txt\"\r\nport=2000\r\ncapture = 'game capture.pcapng'\r\n"
      "[SERVER]\r\nip=10.0.0.7\r\nPORT=3000\r\n",
      &outcome);
  EXPECT_STREQ(settings.logPath, "my log.txt");
  EXPECT_STREQ(settings.capturePath, "game capture.pcapng");
  EXPECT_EQ(settings.listenPort, 2000);
  EXPECT_EQ(settings.serverAddress, platform::ParseDottedQuad("10.0.0.7"));
  EXPECT_EQ(settings.serverPort, 3000);
  EXPECT_TRUE(outcome.hostResolved);
  EXPECT_STREQ(outcome.serverHost, "10.0.0.7");
}

TEST_F(SettingsFileTest, CutsLongPathsTo255Characters) {
  const RelaySettings settings =
      Read("[Proxy]\nLog=" + std::string(300, 'L') + "\nCapture=" + std::string(300, 'C') + "\n");
  EXPECT_EQ(std::string(settings.logPath), std::string(255, 'L'));
  EXPECT_EQ(std::string(settings.capturePath), std::string(255, 'C'));
}

TEST_F(SettingsFileTest, ResolvesTheServerOrFallsBackToAllOnes) {
  SettingsOutcome outcome;
  EXPECT_EQ(Read("[Server]\nIP=localhost\n", &outcome).serverAddress,
            platform::ParseDottedQuad("127.0.0.1"));
  EXPECT_TRUE(outcome.hostResolved);
  EXPECT_EQ(Read("[Server]\nIP=999.999.999.999\n", &outcome).serverAddress, 0xFFFFFFFFu);
  EXPECT_FALSE(outcome.hostResolved);
  EXPECT_STREQ(outcome.serverHost, "999.999.999.999");
}

TEST(ParsePort, ConvertsLikeTheRuntimeAndKeepsTheLow16Bits) {
  EXPECT_EQ(ParsePort("15000"), 15000);
  EXPECT_EQ(ParsePort("65535"), 65535);
  EXPECT_EQ(ParsePort("65536"), 0);
  EXPECT_EQ(ParsePort("70000"), 4464);
  EXPECT_EQ(ParsePort("-1"), 65535);
  EXPECT_EQ(ParsePort("+42"), 42);
  EXPECT_EQ(ParsePort(" \t 123abc"), 123);
  EXPECT_EQ(ParsePort("abc"), 0);
  EXPECT_EQ(ParsePort(""), 0);
  EXPECT_EQ(ParsePort("- 5"), 0);
  // Beyond 32 bits the conversion saturates, as the C runtime's does.
  EXPECT_EQ(ParsePort("99999999999999999999"), 0xFFFF);
  EXPECT_EQ(ParsePort("-99999999999999999999"), 0);
}

int lookups = 0;

bool CountingLookup(const char*, std::uint32_t* address) {
  ++lookups;
  *address = 0x0100007F;
  return true;
}

bool FailingLookup(const char*, std::uint32_t*) { return false; }

TEST(ResolveHost, TakesADottedQuadWithoutALookup) {
  testing::SocketLibraryScope socketLibrary;
  bool resolved = false;
  lookups = 0;
  EXPECT_EQ(ResolveHost("192.168.1.20", &resolved, CountingLookup),
            platform::ParseDottedQuad("192.168.1.20"));
  EXPECT_TRUE(resolved);
  EXPECT_EQ(lookups, 0);
  EXPECT_EQ(ResolveHost("game.example", &resolved, CountingLookup), 0x0100007Fu);
  EXPECT_EQ(lookups, 1);
  EXPECT_EQ(ResolveHost("game.example", &resolved, FailingLookup), 0xFFFFFFFFu);
  EXPECT_FALSE(resolved);
}

TEST(LoadSettings, ReadsTheFileOfTheCurrentDirectory) {
  const std::filesystem::path previous = std::filesystem::current_path();
  const testing::ScratchDirectory scratch("load-settings");
  const std::filesystem::path& directory = scratch.Path();
  std::ofstream(directory / "TESSARD.INI") << "[Proxy]\nPort=65535\n";
  std::filesystem::current_path(directory);
  const SettingsOutcome outcome = LoadSettings();
  std::filesystem::current_path(previous);

  EXPECT_EQ(outcome.pathProblem, SettingsPathProblem::kNone);
  EXPECT_FALSE(outcome.fileUnreadable);
  const std::string path = relaySettings.settingsPath;
  const std::string suffix =
      directory.filename().string() + platform::PathSeparator() + "TESSARD.INI";
  ASSERT_GE(path.size(), suffix.size());
  EXPECT_EQ(path.substr(path.size() - suffix.size()), suffix);
  EXPECT_EQ(relaySettings.listenPort, 65535);
  EXPECT_EQ(AuxiliaryPort(relaySettings.listenPort), 0);
  EXPECT_EQ(AuxiliaryPort(15000), 15001);
}

// A settings file that is there but cannot be read is told apart from a
// missing one; both give the defaults. A directory in its place cannot be
// read even by an administrator.
TEST(ReadSettingsFile, TellsAnUnreadableFileFromAMissingOne) {
  const testing::ScratchDirectory scratch("unreadable-settings");
  const std::filesystem::path& directory = scratch.Path();
  std::filesystem::create_directories(directory / "TESSARD.INI");
  RelaySettings settings;
  std::snprintf(settings.settingsPath, sizeof settings.settingsPath, "%s",
                (directory / "TESSARD.INI").string().c_str());
  const SettingsOutcome unreadable = ReadSettingsFile(settings);
  EXPECT_TRUE(unreadable.fileUnreadable);
  EXPECT_STRNE(unreadable.reason, "");
  EXPECT_EQ(settings.listenPort, 15000);
  EXPECT_STREQ(settings.logPath, "packets.txt");

  std::snprintf(settings.settingsPath, sizeof settings.settingsPath, "%s",
                (directory / "MISSING.INI").string().c_str());
  const SettingsOutcome missing = ReadSettingsFile(settings);
  EXPECT_FALSE(missing.fileUnreadable);
  EXPECT_EQ(settings.serverPort, 382);
}

}  // namespace
}  // namespace tessard
