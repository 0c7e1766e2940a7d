#include "relay/extcap.h"

#include <cstring>

#ifndef TESSARD_VERSION_TEXT
#define TESSARD_VERSION_TEXT "unknown"
#endif

namespace tessard {
namespace {

// The raw IPv4 link type of the capture's interfaces.
constexpr const char* kDltLine = "dlt {number=228}{name=IPV4}{display=Raw IPv4}\n";

// Wireshark names a preference after the option's call without its dashes
// (--server-address is extcap.tessard.serveraddress), so the calls never
// change.
constexpr const char* kConfigLines =
    "arg {number=0}{call=--listen-port}{display=Listen port}{type=unsigned}{range=1,65535}"
    "{default=15000}{tooltip=The relay's game port, where the game client is pointed instead of "
    "the server; the auxiliary port is the one above}\n"
    "arg {number=1}{call=--server-address}{display=Server address}{type=string}"
    "{default=127.0.0.1}{tooltip=The game server: a dotted quad or a host name}\n"
    "arg {number=2}{call=--server-port}{display=Server port}{type=unsigned}{range=1,65535}"
    "{default=382}{tooltip=The server's game port; its auxiliary port is the one above}\n"
    "arg {number=3}{call=--log-file}{display=Log file}{type=fileselect}{mustexist=false}"
    "{required=false}{tooltip=A file for the relay's text log, the decrypted hex dump of the "
    "game traffic; none when empty}\n";

enum class Takes { kNothing, kValue, kOptionalValue };

struct OptionSpec {
  const char* name;
  Takes takes;
};

// Every option Wireshark may pass. Those the relay has no use for (a
// capture filter, the toolbar's control pipes, debugging) are accepted and
// left alone, as Wireshark's own extcaps do with what they lack.
constexpr OptionSpec kOptions[] = {
    {"--extcap-interfaces", Takes::kNothing},
    {"--extcap-version", Takes::kOptionalValue},
    {"--extcap-dlts", Takes::kNothing},
    {"--extcap-config", Takes::kNothing},
    {"--capture", Takes::kNothing},
    {"--extcap-interface", Takes::kValue},
    {"--fifo", Takes::kValue},
    {"--listen-port", Takes::kValue},
    {"--server-address", Takes::kValue},
    {"--server-port", Takes::kValue},
    {"--log-file", Takes::kValue},
    {"--extcap-capture-filter", Takes::kValue},
    {"--extcap-control-in", Takes::kValue},
    {"--extcap-control-out", Takes::kValue},
    {"--extcap-reload-option", Takes::kValue},
    {"--debug", Takes::kNothing},
    {"--debug-file", Takes::kValue},
};

const OptionSpec* FindOption(const std::string& name) {
  for (const auto& option : kOptions) {
    if (name == option.name) return &option;
  }
  return nullptr;
}

// A port as the dialog gives it: decimal digits only, 1 to 65535.
bool ParsePortValue(const std::string& text, std::uint16_t* port) {
  if (text.empty() || text.size() > 5) return false;
  std::uint32_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    value = value * 10 + static_cast<std::uint32_t>(c - '0');
  }
  if (value < 1 || value > 65535) return false;
  *port = static_cast<std::uint16_t>(value);
  return true;
}

struct Seen {
  int questions = 0;  // interfaces, dlts, config, capture
  bool version = false;
  std::string interface;
};

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// Applies one option; an error sentence, or empty.
std::string Apply(const std::string& name, const std::string& value, ExtcapCall& call, Seen& seen) {
  ExtcapOptions& options = call.options;
  const auto question = [&](ExtcapRequest request) {
    call.request = request;
    ++seen.questions;
    return std::string();
  };
  if (name == "--extcap-interfaces") return question(ExtcapRequest::kInterfaces);
  if (name == "--extcap-dlts") return question(ExtcapRequest::kDlts);
  if (name == "--extcap-config") return question(ExtcapRequest::kConfig);
  if (name == "--capture") return question(ExtcapRequest::kCapture);
  if (name == "--extcap-version") {
    seen.version = true;
  } else if (name == "--extcap-interface") {
    seen.interface = value;
  } else if (name == "--fifo") {
    options.fifo = value;
  } else if (name == "--listen-port" || name == "--server-port") {
    std::uint16_t& port = name == "--listen-port" ? options.listenPort : options.serverPort;
    if (!ParsePortValue(value, &port)) {
      return name + " takes a port from 1 to 65535, not " + Quoted(value);
    }
  } else if (name == "--server-address") {
    if (value.empty()) return "--server-address needs a dotted quad or a host name";
    options.serverAddress = value;
  } else if (name == "--log-file") {
    options.logFile = value;
  }
  return {};
}

std::string Check(const ExtcapCall& call, const Seen& seen) {
  if (seen.questions > 1) {
    return "give one of --extcap-interfaces, --extcap-dlts, --extcap-config and --capture";
  }
  if (seen.questions == 0 && !seen.version) {
    return "no extcap call: run tessard without arguments for the relay, or give "
           "--extcap-interfaces, --extcap-dlts, --extcap-config or --capture";
  }
  if (!seen.interface.empty() && seen.interface != kExtcapInterface) {
    return "no extcap interface " + Quoted(seen.interface) + ": the only one is \"tessard\"";
  }
  if (call.request == ExtcapRequest::kCapture && seen.questions == 1 && call.options.fifo.empty()) {
    return "--capture needs --fifo and the pipe to write the capture into";
  }
  return {};
}

}  // namespace

ExtcapCall ParseExtcapArguments(int count, const char* const* arguments) {
  ExtcapCall call;
  Seen seen;
  for (int i = 0; i < count && call.error.empty(); ++i) {
    const std::string argument = arguments[i];
    const std::size_t equals = argument.find('=');
    const std::string name = argument.substr(0, equals);
    const OptionSpec* option = FindOption(name);
    if (option == nullptr) {
      call.error = "unknown argument " + Quoted(argument) +
                   " (tessard takes Wireshark's extcap calls, or no argument at all)";
      break;
    }
    std::string value;
    if (equals != std::string::npos) {
      if (option->takes == Takes::kNothing) {
        call.error = name + " takes no value";
        break;
      }
      value = argument.substr(equals + 1);
    } else if (option->takes == Takes::kValue) {
      if (i + 1 >= count) {
        call.error = name + " needs a value";
        break;
      }
      value = arguments[++i];
    }
    call.error = Apply(name, value, call, seen);
  }
  if (call.error.empty()) call.error = Check(call, seen);
  if (call.error.empty() && seen.questions == 0) call.request = ExtcapRequest::kVersion;
  return call;
}

void AnswerExtcapQuestion(ExtcapRequest request, std::FILE* out) {
  switch (request) {
    case ExtcapRequest::kInterfaces:
      std::fprintf(out, "extcap {version=%s}\n", TESSARD_VERSION_TEXT);
      std::fprintf(out, "interface {value=%s}{display=Tessard relay: decrypted game traffic}\n",
                   kExtcapInterface);
      break;
    case ExtcapRequest::kVersion:
      std::fprintf(out, "extcap {version=%s}\n", TESSARD_VERSION_TEXT);
      break;
    case ExtcapRequest::kDlts:
      std::fputs(kDltLine, out);
      break;
    case ExtcapRequest::kConfig:
      std::fputs(kConfigLines, out);
      break;
    case ExtcapRequest::kCapture:
      break;
  }
  std::fflush(out);
}

}  // namespace tessard
