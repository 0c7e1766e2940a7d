// Wireshark's extcap calls: the questions Wireshark asks of every program in
// its extcap folder, and the capture it starts with the user's options.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace tessard {

// The one interface, as Wireshark lists it.
constexpr const char* kExtcapInterface = "tessard";

enum class ExtcapRequest {
  kInterfaces,  // --extcap-interfaces
  kVersion,     // --extcap-version alone
  kDlts,        // --extcap-dlts
  kConfig,      // --extcap-config
  kCapture,     // --capture
};

// The relay's options as the dialog sets them, with its defaults.
struct ExtcapOptions {
  std::uint16_t listenPort = 15000;
  std::string serverAddress = "127.0.0.1";
  std::uint16_t serverPort = 382;
  std::string logFile;  // empty: no log
  std::string fifo;
};

struct ExtcapCall {
  ExtcapRequest request = ExtcapRequest::kInterfaces;
  ExtcapOptions options;
  std::string error;  // empty when the arguments are sound
};

// Reads the arguments (without the program name), "--name value" and
// "--name=value" alike. An unknown option, a value out of range, a missing
// value or a call that lacks what it needs sets error to one sentence.
ExtcapCall ParseExtcapArguments(int count, const char* const* arguments);

// Writes the answer to a question (every request but kCapture) to out.
void AnswerExtcapQuestion(ExtcapRequest request, std::FILE* out);

}  // namespace tessard
