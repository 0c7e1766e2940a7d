// The dissector's plain modules in stand-alone Lua interpreters, 5.2
// (doubles and bit32, as in Wireshark 4.0) and 5.4 (integers and native
// operators, as in later Wireshark): the cipher against vectors from the
// relay's own cipher, the transport reader and reassembly against their
// own table of cases.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

#include "cipher/session_cipher.h"
#include "cipher/table_random.h"
#include "testing/child_process.h"
#include "testing/relay_harness.h"
#include "testing/scratch_directory.h"
#include "testing/tshark.h"

namespace tessard::testing {
namespace {

namespace fs = std::filesystem;

// A Lua source file that returns the vectors: generator draws from seeds at
// the quotient's edges, sessions with their key table words, and datagrams
// of every length class with what Decrypt makes of them.
std::string Vectors() {
  std::ostringstream lua;
  lua << "return {\nstates = {\n";
  std::mt19937 random(2024);
  std::vector<std::uint32_t> seeds = {0,          1,          0x7FFFFFFE, 0x7FFFFFFF, 0x80000000,
                                      0x83B1801A, 0xF98E7FFE, 0xF98E7FFF, 0xFFFFFFFE, 0xFFFFFFFF};
  for (int i = 0; i < 200; ++i) seeds.push_back(random());
  for (const std::uint32_t seed : seeds) {
    TableRandom generator(seed);
    lua << "{" << seed;
    for (int step = 0; step < 4; ++step) {
      generator.Next();
      lua << ", " << generator.state;
    }
    lua << "},\n";
  }
  lua << "},\nsessions = {\n";
  const std::int32_t keyPairs[][2] = {
      {1234567, -1234567}, {-1, 5},         {0, -8},      {-8, -8}, {0, 0},
      {INT32_MIN, 3},      {INT32_MAX, -7}, {-2050, 2050}};
  for (const auto& [serverKey, clientKey] : keyPairs) {
    SessionCipher cipher;
    cipher.clientKey = clientKey;
    cipher.SetServerKey(serverKey);
    lua << "{server = " << serverKey << ", client = " << clientKey;
    if (cipher.sessionKey != 0) {
      lua << ", words = {";
      for (std::uint32_t i = 0; i < KeyTable::kWordCount; ++i) {
        lua << cipher.keyTable.Word(i) << ",";
      }
      lua << "}";
    }
    lua << ",\ndatagrams = {\n";
    for (std::size_t length = 0; length <= 523; length += (length < 12 || length > 515) ? 1 : 37) {
      for (const char first : {'\0', '\x0E'}) {
        std::string datagram(length, '\0');
        for (char& c : datagram) c = static_cast<char>(random());
        if (length > 0) datagram[0] = first;
        lua << "{\"" << Hex(datagram) << "\", \"" << Hex(Decrypted(cipher, datagram)) << "\"},\n";
      }
    }
    lua << "}},\n";
  }
  lua << "}}\n";
  return lua.str();
}

// Each plain module of the dissector in one stand-alone interpreter.
class SubspaceLuaModuleTest : public ::testing::TestWithParam<const char*> {
 protected:
  void SetUp() override {
    lua = FindOnPath(GetParam());
    if (lua.empty())
      GTEST_SKIP() << GetParam() << " is not installed (Debian package " << GetParam() << ")";
  }

  // Runs the script from the source tree with arguments in the scratch
  // directory; it must exit 0 and report no failures.
  void ExpectPasses(const std::string& script, const std::string& arguments) {
    std::ofstream(directory / "check.sh") << "#!/bin/sh\nexec '" << lua << "' '" TESSARD_SOURCE_DIR
                                          << "/wireshark/" << script << "' " << arguments << "\n";
    fs::permissions(directory / "check.sh", fs::perms::owner_all);
    ChildProcess checker;
    ASSERT_TRUE(checker.Start((directory / "check.sh").string(), directory.string(),
                              (directory / "output.txt").string(),
                              (directory / "errors.txt").string()));
    const int status = checker.WaitForExit(60000);
    const std::string output = ReadWholeFile(directory / "output.txt");
    const std::string errors = ReadWholeFile(directory / "errors.txt");
    EXPECT_EQ(status, 0) << output << errors;
    EXPECT_NE(output.find(" 0 failures"), std::string::npos) << output << errors;
  }

  std::string lua;
  const ScratchDirectory scratch{"lua-module"};
  const fs::path& directory = scratch.Path();
};

TEST_P(SubspaceLuaModuleTest, CipherMatchesTheRelaysCipher) {
  WriteWholeFile(directory / "vectors.lua", Vectors());
  ExpectPasses("subspace_cipher_check.lua", "vectors.lua");
}

TEST_P(SubspaceLuaModuleTest, TransportReaderAndReassembly) {
  ExpectPasses("subspace_transport_test.lua", "");
}

INSTANTIATE_TEST_SUITE_P(Interpreters, SubspaceLuaModuleTest, ::testing::Values("lua5.2", "lua5.4"),
                         [](const auto& info) {
                           std::string name = info.param;
                           name.erase(name.find('.'), 1);
                           return name;
                         });

}  // namespace
}  // namespace tessard::testing
