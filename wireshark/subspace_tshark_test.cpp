// The dissector in the real tshark: captures of encrypted wire traffic,
// made with the relay's own cipher and capture writer, must show every
// datagram's plaintext and fields; the relay's own capture must show its
// plain payloads as they are.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "capture/pcapng.h"
#include "cipher/session_cipher.h"
#include "testing/capture_program_fixture.h"
#include "testing/child_process.h"
#include "testing/relay_harness.h"
#include "testing/scratch_directory.h"
#include "testing/tshark.h"
#include "testing/wire_capture.h"

namespace tessard::testing {
namespace {

namespace fs = std::filesystem;

const std::vector<std::string> kFields = {
    "subspace.header",     "subspace.payload",  "subspace.decrypted",
    "subspace.client_key", "subspace.protocol", "subspace.server_key",
    "subspace.auxiliary",  "_ws.col.Protocol",  "_ws.col.Info"};
enum Column {
  kHeader,
  kPayload,
  kDecrypted,
  kClientKey,
  kProtocol,
  kServerKey,
  kAuxiliary,
  kProtocolColumn,
  kInfo
};

using Rows = std::vector<std::vector<std::string>>;

// The header as the cipher defines it: byte 0, or bytes 0 and 1 when
// byte 0 is 0x00 and there are two.
std::size_t HeaderSize(const std::string& datagram) {
  return datagram.size() >= 2 && datagram[0] == '\0' ? 2 : 1;
}

std::string Payload(std::size_t size, std::mt19937& random) {
  std::string bytes(size, '\0');
  for (char& c : bytes) c = static_cast<char>(random());
  return bytes;
}

// These two build by appending: GCC 12's optimiser takes a literal
// prepended to a temporary string for an overlapping copy.
// A game packet of type 0x0E (one-byte header) with the given body.
std::string Type0E(const std::string& body) {
  std::string bytes = "\x0E";
  bytes += body;
  return bytes;
}

// text in single quotes, for the shell.
std::string Quoted(const std::string& text) {
  std::string quoted = "'";
  quoted += text;
  quoted += "'";
  return quoted;
}

// A tshark that loads the dissector from the source tree, with options, in
// a wrapper script that ReadFrames runs as its tshark.
std::string TsharkWithDissector(const std::string& tshark, const fs::path& directory,
                                const std::string& options) {
  const fs::path wrapper = directory / "tshark-subspace.sh";
  std::ofstream(wrapper) << "#!/bin/sh\nexec '" << tshark << "' -X lua_script:'"
                         << TESSARD_SOURCE_DIR "/wireshark/subspace.lua' " << options
                         << " \"$@\"\n";
  fs::permissions(wrapper, fs::perms::owner_all);
  return wrapper.string();
}

// One client and one server on the wire, each with its own cipher, and
// the row tshark must print for each datagram they send.
class Connection {
 public:
  Connection(WireCapture& capture, Rows& rows, CaptureEndpoint client, CaptureEndpoint server)
      : capture(capture), rows(rows), client(client), server(server) {}

  // A key request and its response, in the clear. Until told otherwise
  // the dissector follows this exchange and decrypts what comes next.
  void Exchange(std::int32_t clientKey, std::int32_t serverKey, std::int8_t protocol = 1) {
    KeyRequestFromClient(clientKey, protocol);
    KeyResponseFromServer(serverKey, true);
  }

  void KeyRequestFromClient(std::int32_t clientKey, std::int8_t protocol) {
    clientCipher.clientKey = serverCipher.clientKey = clientKey;
    const std::string request = KeyRequest(clientKey, protocol);
    std::vector<std::string>& row = Add(true, request, request, false);
    row[kClientKey] = std::to_string(clientKey);
    row[kProtocol] = std::to_string(protocol);
    row[kInfo] = "c2s key request, client key " + row[kClientKey] + ", protocol " + row[kProtocol];
  }

  // followed: whether the dissector takes this response as the one that
  // sets up decryption.
  void KeyResponseFromServer(std::int32_t serverKey, bool followed) {
    const std::string response = KeyResponse(serverKey);
    std::vector<std::string>& row = Add(false, response, response, false);
    row[kServerKey] = std::to_string(serverKey);
    if (followed) {
      clientCipher.SetServerKey(serverKey);
      serverCipher.SetServerKey(serverKey);
      row[kInfo] = "s2c key response, server key " + row[kServerKey];
    }
  }

  // plain sent encrypted, shown decrypted while the dissector follows the
  // exchange; encrypted with the sender's current keys either way.
  std::vector<std::string>& Send(bool fromClient, const std::string& plain, bool decrypted) {
    const std::string wire = Encrypted(fromClient ? clientCipher : serverCipher, plain);
    const bool keyed = (fromClient ? clientCipher : serverCipher).sessionKey != 0;
    return Add(fromClient, wire, decrypted ? plain : wire, decrypted && keyed);
  }

  // Bytes as they are, not encrypted, and shown as carried.
  std::vector<std::string>& SendClear(bool fromClient, const std::string& bytes) {
    return Add(fromClient, bytes, bytes, false);
  }

  SessionCipher clientCipher;
  SessionCipher serverCipher;

 private:
  std::vector<std::string>& Add(bool fromClient, const std::string& wire, const std::string& shown,
                                bool decrypted) {
    capture.Add(fromClient ? client : server, fromClient ? server : client, wire);
    const std::size_t header = HeaderSize(shown);
    std::vector<std::string> row(kFields.size());
    row[kHeader] = Hex(shown.substr(0, header));
    row[kPayload] = Hex(shown.substr(header));
    row[kDecrypted] = decrypted ? "1" : "0";
    row[kProtocolColumn] = "SubSpace";
    rows.push_back(row);
    return rows.back();
  }

  WireCapture& capture;
  Rows& rows;
  CaptureEndpoint client;
  CaptureEndpoint server;
};

class SubspaceDissectorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    tshark = FindTshark();
    if (tshark.empty()) GTEST_SKIP() << "tshark is not installed (Debian package tshark)";
  }

  // Every frame's fields, read by tshark with the dissector and options.
  void WriteCapture() {
    WriteWholeFile(directory / "wire.pcapng",
                   std::string(capture.File().begin(), capture.File().end()));
  }

  // Every frame's fields, read by tshark with the dissector and options.
  Rows Read(const std::string& options, const std::vector<std::string>& fields = kFields,
            const std::string& captureName = "wire.pcapng") {
    WriteCapture();
    Rows frames;
    std::string error;
    EXPECT_TRUE(ReadFrames(TsharkWithDissector(tshark, directory, options), directory, captureName,
                           fields, &frames, &error))
        << error;
    return frames;
  }

  // Runs a shell command in the test's directory: its standard output.
  std::string Run(const std::string& command) {
    std::ofstream(directory / "run.sh") << "#!/bin/sh\n" << command << "\n";
    fs::permissions(directory / "run.sh", fs::perms::owner_all);
    ChildProcess child;
    EXPECT_TRUE(child.Start((directory / "run.sh").string(), directory.string(),
                            (directory / "output.txt").string(),
                            (directory / "run-errors.txt").string()));
    EXPECT_EQ(child.WaitForExit(60000), 0)
        << command << ": " << ReadWholeFile(directory / "run-errors.txt");
    return ReadWholeFile(directory / "output.txt");
  }

  // The numbers of the frames that tshark's summary lines show with the
  // options: nothing asks for a field, so the protocol tree is not in view.
  std::vector<std::string> SummaryFrameNumbers(const std::string& options) {
    WriteCapture();
    std::istringstream lines(Run(Quoted(TsharkWithDissector(tshark, directory, "")) +
                                 " -n -r wire.pcapng -o 'gui.column.format:\"No.\",\"%m\"' " +
                                 options));
    std::vector<std::string> numbers;
    for (std::string number; lines >> number;) numbers.push_back(number);
    return numbers;
  }

  // Each frame as expected, and the same again when tshark reads in two
  // passes, so that a second look decides nothing anew.
  void ExpectRows(const std::string& options = "") {
    for (const char* passes : {"", "-2"}) {
      SCOPED_TRACE("tshark " + options + " " + passes);
      const Rows frames = Read(options + " " + passes);
      ASSERT_EQ(frames.size(), rows.size());
      for (std::size_t i = 0; i < rows.size(); ++i) {
        std::vector<std::string> want = rows[i];
        // Info is checked where a test states it.
        if (want[kInfo].empty()) want[kInfo] = frames[i][kInfo];
        EXPECT_EQ(frames[i], want) << "frame " << i + 1;
      }
    }
  }

  std::string tshark;
  const ScratchDirectory scratch{"dissector"};
  const fs::path directory = scratch.Path();
  WireCapture capture;
  Rows rows;
  std::mt19937 random{17};
};

TEST_F(SubspaceDissectorTest, DecryptsEveryPayloadSizeUnderBothHeaderRules) {
  // Two conversations at once on the default ports: one encrypting, one
  // whose server answered with the client's own key (no encryption).
  Connection encrypted(capture, rows, Endpoint("10.0.0.1", 50001), Endpoint("10.0.0.9", 382));
  Connection clear(capture, rows, Endpoint("10.0.0.2", 50002), Endpoint("10.0.0.8", 15000));
  encrypted.Exchange(-1234567, 1234567);
  clear.Exchange(-99, -99);
  for (std::size_t size = 0; size <= SessionCipher::kMaxPayload; ++size) {
    // Sizes alternate their header rule between the two directions.
    const std::string oneByte = Type0E(Payload(size, random));
    const std::string twoBytes = std::string("\x00\x03", 2) + Payload(size, random);
    encrypted.Send(true, size % 2 ? oneByte : twoBytes, true);
    encrypted.Send(false, size % 2 ? twoBytes : oneByte, true);
    clear.Send(size % 3 == 0, oneByte, true);
  }
  // A lone 0x00 has the one-byte header.
  encrypted.Send(true, std::string(1, '\0'), true);
  ASSERT_NO_FATAL_FAILURE(ExpectRows());
}

TEST_F(SubspaceDissectorTest, FollowsEachConversationThroughReconnectsAndDisconnects) {
  Connection game(capture, rows, Endpoint("10.0.0.1", 50001), Endpoint("10.0.0.9", 382));
  Connection late(capture, rows, Endpoint("10.0.0.3", 50003), Endpoint("10.0.0.9", 382));
  Connection answered(capture, rows, Endpoint("10.0.0.4", 50004), Endpoint("10.0.0.8", 15000));
  Connection auxiliary(capture, rows, Endpoint("10.0.0.1", 50005), Endpoint("10.0.0.9", 383));
  const auto packet = [&](std::size_t size) { return Type0E(Payload(size, random)); };

  // A conversation whose exchange the capture missed: shown as carried,
  // the side on the game port taken for the server.
  late.clientCipher.clientKey = late.serverCipher.clientKey = -5;
  late.clientCipher.SetServerKey(5);
  late.serverCipher.SetServerKey(5);
  late.Send(true, packet(40), false)[kInfo] = "c2s game 0x0E, not decrypted";

  game.Exchange(-1000, 1000, -3);
  game.Send(true, packet(100), true)[kInfo] = "c2s game 0x0E";
  // Another client behind the same port, at another address, is a
  // conversation of its own with its own keys.
  Connection twin(capture, rows, Endpoint("10.0.0.5", 50001), Endpoint("10.0.0.9", 382));
  twin.Exchange(-1500, 1500);
  for (const bool fromClient : {true, false}) {
    game.Send(fromClient, packet(48), true);
    twin.Send(fromClient, packet(48), true);
  }
  late.Send(false, packet(30), false);
  game.Send(false, std::string("\x00\x09\x28", 3) + Payload(60, random), true)[kInfo] =
      "s2c chunk tail + reassembled game 0x28";

  // A key response that no key request came before: not followed, and
  // later traffic of that conversation stays as carried.
  answered.clientCipher.clientKey = answered.serverCipher.clientKey = -77;
  answered.KeyResponseFromServer(77, false);
  answered.clientCipher.SetServerKey(77);
  answered.serverCipher.SetServerKey(77);
  answered.Send(true, packet(20), false);

  // Too long for the key table: as carried. A 522-byte datagram still fits.
  game.Send(true, packet(521), false);
  game.Send(false, std::string("\x00\x03", 2) + Payload(520, random), true);

  // Not key requests: 00 01 of seven and nine bytes, decrypted as any other.
  game.Send(true, std::string("\x00\x01", 2) + Payload(5, random), true)[kInfo] = "c2s key request";
  game.Send(true, std::string("\x00\x01", 2) + Payload(7, random), true);

  // The auxiliary pair is carried as it is, exchange or not.
  for (const std::string& bytes : {KeyRequest(-4, 1), KeyResponse(4), packet(9)}) {
    capture.Add(Endpoint("10.0.0.9", 383), Endpoint("10.0.0.1", 50005), bytes);
    std::vector<std::string> row(kFields.size());
    row[kAuxiliary] = Hex(bytes);
    row[kProtocolColumn] = "SubSpace";
    rows.push_back(row);
  }

  // A second key response while decrypting is itself decrypted and
  // changes nothing.
  game.Send(false, KeyResponse(424242), true)[kServerKey] = "424242";
  game.Send(true, packet(33), true);

  // A disconnect is decrypted and ends decryption; the relay's second copy
  // and whatever follows are shown as carried.
  const std::string bye = std::string("\x00\x07", 2) + "bye";
  game.Send(true, bye, true)[kInfo] = "c2s disconnect";
  game.Send(true, bye, false);
  game.SendClear(false, packet(12));

  // A fresh exchange with another key; the server disconnects this time.
  game.Exchange(-2000, 2002);
  game.Send(true, packet(200), true);
  game.Send(false, std::string("\x00\x07", 2), true);
  game.SendClear(true, packet(3));

  // The client connects again without a disconnect: its key request is in
  // the clear, what is still in flight under the old keys is decrypted with
  // them, and the answer sets up the new keys although decryption is on.
  game.Exchange(-3000, 3003);
  game.Send(false, packet(77), true);
  game.KeyRequestFromClient(-4000, 1);
  late.Send(true, packet(8), false);
  game.Send(false, packet(78), true);
  game.KeyResponseFromServer(4004, true);
  game.Send(true, packet(300), true);
  game.Send(false, packet(301), true);

  // A key response of four bytes carries no key: the next exchange of
  // that conversation works as usual.
  answered.KeyRequestFromClient(-6, 2);
  answered.SendClear(false, std::string("\x00\x02\x01\x02", 4));
  answered.KeyResponseFromServer(6006, true);
  answered.Send(false, packet(64), true);

  ASSERT_NO_FATAL_FAILURE(ExpectRows());

  // Filters where no field is shown: on the header, and on decrypted
  // payloads in one pass and in two.
  const auto framesWhere = [&](Column column, const std::string& value) {
    std::vector<std::string> numbers;
    for (std::size_t i = 0; i < rows.size(); ++i) {
      if (rows[i][column] == value) numbers.push_back(std::to_string(i + 1));
    }
    return numbers;
  };
  const struct {
    const char* options;
    Column column;
    const char* value;
  } filters[] = {
      {"-2 -Y 'subspace.header == 00:02'", kHeader, "0002"},
      {"-Y 'subspace.payload == 62:79:65'", kPayload, "627965"},
      {"-2 -Y 'subspace.payload == 62:79:65'", kPayload, "627965"},
      {"-Y 'subspace.decrypted == 1'", kDecrypted, "1"},
  };
  for (const auto& filter : filters) {
    EXPECT_EQ(SummaryFrameNumbers(filter.options), framesWhere(filter.column, filter.value))
        << filter.options;
  }
}

TEST_F(SubspaceDissectorTest, PortsComeFromThePreferencesAndDecodeAs) {
  // Port 53 is DNS's on a capture off the network, the key exchange
  // notwithstanding.
  Connection game(capture, rows, Endpoint("10.0.0.1", 50001), Endpoint("10.0.0.9", 53));
  game.Exchange(-1, 1);
  game.Send(true, Type0E(Payload(50, random)), true);
  game.Send(false, std::string("\x00\x03", 2) + Payload(51, random), true);
  ASSERT_NO_FATAL_FAILURE(ExpectRows("-d udp.port==53,subspace"));
  ASSERT_NO_FATAL_FAILURE(ExpectRows("-o subspace.game_ports:53"));

  // Port 53 as an auxiliary port, and as DNS's.
  const std::vector<std::string> fields = {"subspace.auxiliary", "_ws.col.Protocol"};
  for (const auto& row : Read("-o subspace.auxiliary_ports:53", fields)) {
    EXPECT_NE(row[0], "");
  }
  for (const auto& row : Read("", fields)) EXPECT_EQ(row[1], "DNS");
}

TEST_F(SubspaceDissectorTest, ACaptureCutShortIsDecryptedAsFarAsItGoes) {
  // editcap keeps the first bytes of every frame, as a short snap length does.
  const fs::path editcap = fs::path(tshark).parent_path() / "editcap";
  if (!fs::exists(editcap)) GTEST_SKIP() << "editcap is not installed (Debian package tshark)";
  Connection game(capture, rows, Endpoint("10.0.0.1", 50001), Endpoint("10.0.0.9", 382));
  game.Exchange(-111, 222);
  for (const std::size_t size : {1, 18, 19, 20, 21, 100, 520}) {
    game.Send(size % 2 == 0, Type0E(Payload(size - 1, random)), true);
    game.Send(size % 2 == 1, std::string("\x00\x03", 2) + Payload(size, random), true);
  }
  WriteCapture();

  // 20 bytes of each datagram after 28 of IPv4 and UDP headers: decrypted
  // as far as they go.
  Run(Quoted(editcap.string()) + " -s 48 wire.pcapng cut.pcapng");
  const Rows frames = Read("", kFields, "cut.pcapng");
  ASSERT_EQ(frames.size(), rows.size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    std::vector<std::string> want = rows[i];
    want[kPayload] = want[kPayload].substr(0, 40 - want[kHeader].size());
    want[kInfo] = frames[i][kInfo];
    EXPECT_EQ(frames[i], want) << "frame " << i + 1;
  }

  // 4 bytes and 1: the keys were not captured, so nothing is
  // decrypted and no key is made up.
  for (const char* snapLength : {"32", "29"}) {
    Run(Quoted(editcap.string()) + " -s " + snapLength + " wire.pcapng cut.pcapng");
    for (const auto& frame : Read("", kFields, "cut.pcapng")) {
      EXPECT_EQ(frame[kDecrypted], "0") << snapLength;
      EXPECT_EQ(frame[kClientKey] + frame[kServerKey], "") << snapLength;
      EXPECT_EQ(frame[kProtocolColumn], "SubSpace") << snapLength;
    }
  }
}

TEST_F(CaptureProgramTest, TheDissectorShowsTheRelaysCaptureWithoutDecryptingAgain) {
  const std::string tshark = FindTshark();
  if (tshark.empty()) GTEST_SKIP() << "tshark is not installed (Debian package tshark)";
  ASSERT_NO_FATAL_FAILURE(StartWithCapture());
  ASSERT_NO_FATAL_FAILURE(CarrySession());
  ASSERT_EQ(relay.StopByKey(), 0);

  // The relay's ports are free ones, claimed by no dissector's port: the
  // capture's interface names alone make it game traffic.
  std::vector<std::string> fields = kFields;
  fields.push_back("frame.comment");
  Rows frames;
  std::string error;
  ASSERT_TRUE(ReadFrames(TsharkWithDissector(tshark, relay.directory, "-2"), relay.directory,
                         "game.pcapng", fields, &frames, &error))
      << error;
  ASSERT_EQ(frames.size(), expected.size());
  for (std::size_t i = 0; i < frames.size(); ++i) {
    const CaptureRecord& record = expected[i];
    std::vector<std::string> want(kFields.size());
    want[kProtocolColumn] = "SubSpace";
    if (record.interface == 1) {
      want[kAuxiliary] = Hex(record.payload);
    } else {
      const std::size_t header = HeaderSize(record.payload);
      want[kHeader] = Hex(record.payload.substr(0, header));
      want[kPayload] = Hex(record.payload.substr(header));
      want[kDecrypted] = "0";
      if (record.comment.rfind("Connection from", 0) == 0) {
        want[kClientKey] = std::to_string(client.clientKey);
        want[kProtocol] = "1";
      } else if (record.comment == "SubSpace decryption enabled.") {
        want[kServerKey] = std::to_string(0x5EED1234);
      }
    }
    want[kInfo] = frames[i][kInfo];
    want.push_back(record.comment);
    EXPECT_EQ(frames[i], want) << "frame " << i + 1;
  }
}

// Transport packets, built by appending as above.
std::string Bytes(const std::string& hex) {
  std::string bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += hex[i] == ' ' ? 1 : 2) {
    if (hex[i] != ' ') bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  }
  return bytes;
}

std::string U32(std::uint32_t value) {
  std::string bytes;
  for (int i = 0; i < 4; ++i) bytes += static_cast<char>(value >> (8 * i));
  return bytes;
}

std::string Core(int type, const std::string& body = "") {
  std::string bytes(1, '\0');
  bytes += static_cast<char>(type);
  return bytes + body;
}

std::string Reliable(std::uint32_t id, const std::string& packet) {
  return Core(0x03, U32(id) + packet);
}

std::string Cluster(const std::vector<std::string>& packets) {
  std::string body;
  for (const std::string& packet : packets) body += static_cast<char>(packet.size()) + packet;
  return Core(0x0E, body);
}

// text cut at each separator.
std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts(1);
  for (const char c : text) {
    if (c == separator) {
      parts.emplace_back();
    } else {
      parts.back() += c;
    }
  }
  return parts;
}

// The README's example of a game decoder: type 0x28 from the client.
constexpr char kChatDecoder[] = R"(local chat = Proto("chat", "Chat message")
local text = ProtoField.string("chat.text", "Text")
chat.fields = {text}
function chat.dissector(tvb, pinfo, tree)
  tree:add(chat, tvb()):add(text, tvb(1))
end
function chat.init()
  DissectorTable.get("subspace.c2s"):add(0x28, chat)
end
)";

TEST_F(SubspaceDissectorTest, ReadsEveryTransportPacketAndJoinsWhatWasSplit) {
  const std::vector<std::string> fields = Split(
      "subspace.core subspace.game subspace.game_data subspace.reliable_id subspace.ack_id "
      "subspace.stream_length subspace.reassembled_in subspace.retransmission subspace.ping_time "
      "subspace.ping_players chat.text _ws.col.Info",
      ' ');
  Rows ignored;
  Connection game(capture, ignored, Endpoint("10.0.0.1", 50001), Endpoint("10.0.0.9", 382));
  game.Exchange(-1, 1);
  // Each frame's fields in the order above, cut at "|".
  std::vector<std::string> want = {"0x01|||||||||||c2s key request, client key -1, protocol 1",
                                   "0x02|||||||||||s2c key response, server key 1"};
  const struct {
    bool fromClient;
    std::string datagram;
    const char* row;
  } sent[] = {
      {true, Reliable(0, Bytes("28 6f 6b")),
       "0x03|0x28|286f6b|0|||||||ok|c2s reliable 0 > game 0x28"},
      {false, Core(0x04, U32(0)), "0x04||||0|||||||s2c ack 0"},
      {true, Core(0x05, U32(17)), "0x05|||||||||||c2s sync request"},
      {true, Core(0x05, U32(17) + U32(2) + U32(3)), "0x05|||||||||||c2s sync request"},
      {false, Core(0x06, U32(17) + U32(34)), "0x06|||||||||||s2c sync response"},
      // Nested both ways: a reliable packet in a cluster, a cluster in a
      // reliable packet.
      {false, Cluster({Reliable(0, Bytes("2a")), Core(0x04, U32(5)), Bytes("2b 09")}),
       "0x0e,0x03,0x04|0x2a,0x2b|2a,2b09|0|5|||||||s2c cluster(3)"},
      // Chunks in reliable packets out of id order: id 4 waits for id 3,
      // and a retransmission of id 2 is not taken again.
      {true, Reliable(1, Cluster({Bytes("2c"), Core(0x08, Bytes("2d 01"))})),
       "0x03,0x0e,0x08|0x2c|2c|1|||13|||||c2s reliable 1 > cluster(2)"},
      {true, Reliable(2, Core(0x08, Bytes("02"))),
       "0x03,0x08|||2|||13|||||c2s reliable 2 > chunk body"},
      {true, Reliable(4, Core(0x09, Bytes("04"))),
       "0x03,0x09|||4|||13|||||c2s reliable 4 > chunk tail"},
      {true, Reliable(2, Core(0x08, Bytes("02"))),
       "0x03,0x08|||2||||10||||c2s reliable 2 > chunk body"},
      {true, Reliable(3, Core(0x08, Bytes("03"))),
       "0x03,0x08|0x2d|2d01020304|3||||||||c2s reliable 3 > chunk body + reassembled game 0x2D"},
      {false, Reliable(1, Core(0x0A, U32(5) + Bytes("2e 01"))),
       "0x03,0x0a|||1||5|15|||||s2c reliable 1 > stream"},
      {false, Reliable(2, Core(0x0A, U32(5) + Bytes("02 03 04"))),
       "0x03,0x0a|0x2e|2e01020304|2||5||||||s2c reliable 2 > stream + reassembled game 0x2E"},
      {false, Core(0x0B), "0x0b|||||||||||s2c stream cancel"},
      {true, Core(0x0C), "0x0c|||||||||||c2s stream cancel ack"},
      {false, Core(0x0D, Bytes("ff")), "0x0d|||||||||||s2c core 0x0D"},
      {true, Bytes("28 68 69"), "|0x28|286869||||||||hi|c2s game 0x28"},
      // A chunk that a new connection leaves without its tail.
      {true, Core(0x08, Bytes("2f")), "0x08|||||||||||c2s chunk body"},
      {true, Core(0x07), "0x07|||||||||||c2s disconnect"},
  };
  for (const auto& datagram : sent) {
    game.Send(datagram.fromClient, datagram.datagram, true);
    want.push_back(datagram.row);
  }
  game.KeyRequestFromClient(-2, 1);
  want.push_back("0x01|||||||||||c2s key request, client key -2, protocol 1");
  // The ping on the auxiliary pair.
  capture.Add(Endpoint("10.0.0.1", 50002), Endpoint("10.0.0.9", 383), U32(1000));
  want.push_back("||||||||1000|||c2s ping, time 1000");
  capture.Add(Endpoint("10.0.0.9", 383), Endpoint("10.0.0.1", 50002), U32(7) + U32(1000));
  want.push_back("||||||||1000|7||s2c ping reply, 7 players, time 1000");
  capture.Add(Endpoint("10.0.0.1", 50002), Endpoint("10.0.0.9", 383), U32(1001) + U32(3));
  want.push_back("||||||||1001|||c2s ping, time 1001");

  WriteWholeFile(directory / "chat.lua", kChatDecoder);
  std::string decoder = "-X lua_script:";
  decoder += (directory / "chat.lua").string();
  // One pass cannot know yet where a piece's packet is completed; two can,
  // with a tree on the first pass (a filter) or without.
  for (const char* passes : {"", "-2", "-2 -Y frame"}) {
    const Rows frames = Read(decoder + " " + passes, fields);
    ASSERT_EQ(frames.size(), want.size()) << passes;
    for (std::size_t i = 0; i < want.size(); ++i) {
      std::vector<std::string> row = Split(want[i], '|');
      if (*passes == '\0') row[6] = "";  // subspace.reassembled_in
      EXPECT_EQ(frames[i], row) << passes << ", frame " << i + 1;
    }
  }
  // Filters match decrypted and joined bytes; the new connection notes
  // the chunk it drops.
  EXPECT_EQ(SummaryFrameNumbers("-Y 'subspace.game_data == 28:6f:6b || "
                                "subspace.game_data == 2e:01:02:03:04 || subspace.expert.dropped'"),
            (std::vector<std::string>{"3", "15", "22"}));

  // Every field filters the frames where the tree shows it: a filter alone
  // builds no tree in view, fields do.
  const std::vector<std::string> every = Split(
      "frame.number subspace.header subspace.payload subspace.decrypted subspace.client_key "
      "subspace.protocol subspace.server_key subspace.direction subspace.auxiliary subspace.core "
      "subspace.game subspace.game_data subspace.reliable_id subspace.ack_id "
      "subspace.stream_length subspace.reassembled_in subspace.retransmission subspace.sync_time "
      "subspace.sync_echo subspace.packets_sent subspace.packets_received subspace.piece "
      "subspace.data subspace.ping_time subspace.ping_options subspace.ping_players",
      ' ');
  for (const char* passes : {"", "-2"}) {
    const Rows shown = Read(passes, every);
    for (std::size_t field = 1; field < every.size(); ++field) {
      std::vector<std::string> numbers;
      for (const auto& row : shown) {
        if (!row[field].empty()) numbers.push_back(row[0]);
      }
      // (Where a piece's packet is completed is known to a second pass.)
      EXPECT_TRUE(!numbers.empty() || *passes == '\0') << every[field] << " is in no frame";
      EXPECT_EQ(SummaryFrameNumbers(std::string(passes) + " -Y " + every[field]), numbers)
          << passes << " " << every[field];
    }
  }
}

// The relay's own capture, of records from its game interface (port 53,
// which is DNS's) or its auxiliary one (port 123, NTP's); with directions,
// as the relay writes every record, or (a file of another tool that names
// its interfaces alike) without.
std::string RelayCapture(const std::vector<std::pair<bool, std::string>>& records,
                         bool directions = true) {
  std::vector<std::uint8_t> file;
  AppendCaptureFileHeader(file);
  for (std::size_t i = 0; i < records.size(); ++i) {
    const auto& [game, payload] = records[i];
    CapturedDatagram datagram;
    datagram.interface = game ? CaptureInterface::kGame : CaptureInterface::kAuxiliary;
    const bool up = i % 2 == 0;  // alternately from the client and the server
    datagram.direction = up ? CaptureDirection::kOutbound : CaptureDirection::kInbound;
    if (!directions) datagram.direction = static_cast<CaptureDirection>(0);
    const CaptureEndpoint client = Endpoint("127.0.0.1", 50001);
    const CaptureEndpoint server = Endpoint("127.0.0.1", game ? 53 : 123);
    datagram.source = up ? client : server;
    datagram.destination = up ? server : client;
    datagram.payload = reinterpret_cast<const std::uint8_t*>(payload.data());
    datagram.length = payload.size();
    AppendPacketBlock(datagram, file);
  }
  return std::string(file.begin(), file.end());
}

TEST_F(SubspaceDissectorTest, FindsTheGameOnAnyPort) {
  // Port 7000 is taken by no dissector that accepts these bytes: the key
  // exchange gives the conversation away, and what came before stays UDP.
  Connection unnamed(capture, rows, Endpoint("10.0.0.1", 50001), Endpoint("10.0.0.9", 7000));
  capture.Add(Endpoint("10.0.0.1", 50001), Endpoint("10.0.0.9", 7000), Bytes("00 03 01"));
  unnamed.Exchange(-5, 5);
  unnamed.Send(true, Reliable(0, Bytes("28")), true);
  WriteWholeFile(directory / "relay.pcapng", RelayCapture({{true, KeyRequest(-7, 1)},
                                                           {true, KeyResponse(7)},
                                                           {true, Reliable(0, Bytes("28 01"))},
                                                           {false, U32(2) + U32(99)},
                                                           {false, U32(99)}}));
  WriteWholeFile(directory / "unsent.pcapng",
                 RelayCapture({{true, KeyRequest(-7, 1)}, {false, U32(99)}}, false));
  const std::vector<std::string> fields = {"_ws.col.Protocol", "_ws.col.Info"};
  for (const char* passes : {"", "-2"}) {
    EXPECT_EQ(Read(passes, fields),
              (Rows{{"UDP", "50001 → 7000 Len=3"},
                    {"SubSpace", "c2s key request, client key -5, protocol 1"},
                    {"SubSpace", "s2c key response, server key 5"},
                    {"SubSpace", "c2s reliable 0 > game 0x28"}}))
        << passes;
    // The relay's capture with no setting.
    EXPECT_EQ(Read(passes, fields, "relay.pcapng"),
              (Rows{{"SubSpace", "c2s key request, client key -7, protocol 1"},
                    {"SubSpace", "s2c key response, server key 7"},
                    {"SubSpace", "c2s reliable 0 > game 0x28"},
                    {"SubSpace", "s2c ping reply, 2 players, time 99"},
                    {"SubSpace", "c2s ping, time 99"}}))
        << passes;
    // The conversation found by its key exchange is this protocol once.
    EXPECT_EQ(Read(passes, {"frame.protocols"}),
              (Rows{{"subspace_capture:ip:udp:data"},
                    {"subspace_capture:ip:udp:subspace"},
                    {"subspace_capture:ip:udp:subspace"},
                    {"subspace_capture:ip:udp:subspace"}}))
        << passes;
    // Records without a direction are not the relay's, whatever their
    // interfaces are called: their ports' protocols read them.
    for (const auto& row : Read(passes, fields, "unsent.pcapng")) {
      EXPECT_NE(row[0], "SubSpace") << passes << " " << row[1];
    }
  }
}

TEST_F(SubspaceDissectorTest, ACaptureBegunMidSessionKeepsEachDirectionApart) {
  // The relay's capture opened on a running session: no key exchange, both
  // sides' reliable ids and chunks interleaved. Each record's direction
  // says whose they are; the first id of each side starts its sequence,
  // and a chunk whose start came before the capture is not joined.
  WriteWholeFile(directory / "relay.pcapng",
                 RelayCapture({{true, Core(0x09, Bytes("ff"))},
                               {true, Reliable(5, Core(0x08, Bytes("29 02")))},
                               {true, Reliable(7, Core(0x08, Bytes("28 68")))},
                               {true, Reliable(6, Core(0x09, Bytes("04")))},
                               {true, Reliable(8, Core(0x09, Bytes("69")))},
                               {true, Reliable(7, Bytes("2a 01"))},
                               {true, Reliable(300, Bytes("2b"))},
                               {true, Core(0x04, U32(1))}}));
  WriteWholeFile(directory / "chat.lua", kChatDecoder);
  std::string decoder = "-X lua_script:";
  decoder += (directory / "chat.lua").string();
  const std::vector<std::string> fields = Split(
      "subspace.direction subspace.reliable_id subspace.reassembled_in "
      "subspace.retransmission subspace.game chat.text _ws.col.Info",
      ' ');
  const std::vector<std::string> want = {
      "c2s||||||c2s chunk tail",
      "s2c|5|||||s2c reliable 5 > chunk body",
      "c2s|7|5||||c2s reliable 7 > chunk body",
      "s2c|6|||||s2c reliable 6 > chunk tail",
      "c2s|8|||0x28|hi|c2s reliable 8 > chunk tail + reassembled game 0x28",
      "s2c|7|||0x2a||s2c reliable 7 > game 0x2A",
      "c2s|300|||0x2b||c2s reliable 300 > game 0x2B",
      "s2c||||||s2c ack 1"};
  for (const char* passes : {"", "-2"}) {
    const Rows frames = Read(decoder + " " + passes, fields, "relay.pcapng");
    ASSERT_EQ(frames.size(), want.size()) << passes;
    for (std::size_t i = 0; i < want.size(); ++i) {
      std::vector<std::string> row = Split(want[i], '|');
      if (*passes == '\0') row[2] = "";  // subspace.reassembled_in
      EXPECT_EQ(frames[i], row) << passes << ", frame " << i + 1;
    }
  }

  // Two passes and no filter: the first builds no tree and decides all the
  // same. Id 300 gives up the ids that a window of 256 leaves behind.
  const std::string tree =
      Run(Quoted(TsharkWithDissector(tshark, directory, "")) + " -n -2 -V -r relay.pcapng");
  EXPECT_NE(tree.find("Reassembled in: 5"), std::string::npos) << tree;
  EXPECT_NE(tree.find(" Reliable 300\n"), std::string::npos) << "a packet's subtree";
  EXPECT_EQ(tree.find("(null)"), std::string::npos) << "a subtree without its label";
  EXPECT_NE(tree.find("Reliable ids 9 to 44 are not in the capture"), std::string::npos);
  std::size_t starts = 0;
  for (std::size_t at = 0;
       (at = tree.find("Piece of a packet whose start", at)) != std::string::npos; ++at) {
    ++starts;
  }
  EXPECT_EQ(starts, 6u) << "frames 1, 2 and 4, each as an item and a note";
}

TEST_F(SubspaceDissectorTest, AHostileCaptureCostsNoMoreThanTsharkAlone) {
  const std::string timer = FindOnPath("time");
  if (timer.empty()) GTEST_SKIP() << "/usr/bin/time is not installed (Debian package time)";
  // Chunk tails whose pieces are chunk headers: a reader that fed each
  // joined packet back into its flow would join a packet that grows by a
  // datagram with every datagram, and keep each one.
  Connection game(capture, rows, Endpoint("10.0.0.1", 50001), Endpoint("10.0.0.9", 382));
  game.Exchange(-1, 1);
  std::string headers;
  while (headers.size() + 2 < 520) headers += Core(0x08);
  for (int i = 0; i < 2000; ++i) game.Send(true, Core(0x09, headers), true);
  WriteCapture();
  // CPU seconds and peak memory (kB) of tshark -V, with the dissector and
  // without.
  const auto cost = [&](const std::string& tsharkCommand) {
    std::istringstream figures(Run(Quoted(timer) + " -f '%U %S %M' -o cost.txt " + tsharkCommand +
                                   " -n -V -r wire.pcapng >/dev/null && cat cost.txt"));
    double user = 0, system = 0, memory = 0;
    figures >> user >> system >> memory;
    return std::pair<double, double>(user + system, memory);
  };
  const auto alone = cost(Quoted(tshark));
  const auto with = cost(Quoted(TsharkWithDissector(tshark, directory, "")));
  ASSERT_GT(alone.second, 0);
  // Time with a second's slack for a loaded machine.
  EXPECT_LE(with.first, 3 * alone.first + 1) << "CPU seconds";
  EXPECT_LE(with.second, 2 * alone.second) << "peak kB";
}

TEST_F(SubspaceDissectorTest, RandomDatagramsRaiseNoLuaError) {
  // Transport packets put together at random, then cut or overwritten at
  // random: as the relay captured them (read in full), encrypted on the
  // wire, and that capture cut short.
  const std::vector<std::string> pieces = {Core(0x07),     Core(0x0B), Core(0x04, U32(1)),
                                           Bytes("28 01"), Core(0x0E), Core(0x0A, U32(3)),
                                           Core(0x08),     Core(0x09)};
  std::vector<std::pair<bool, std::string>> records;
  Connection wire(capture, rows, Endpoint("10.0.0.1", 50001), Endpoint("10.0.0.9", 382));
  wire.Exchange(-8, 8);
  while (records.size() < 1500) {
    std::string packet = pieces[random() % pieces.size()] + Payload(random() % 6, random);
    for (int depth = random() % 20; depth > 0; --depth) {
      switch (random() % 4) {
        case 0:
          packet = Reliable(random() % 8, packet);
          break;
        case 1:
          packet = Cluster({packet, pieces[random() % pieces.size()]});
          break;
        case 2:
          packet = Core(0x0A, U32(random() % 64) + packet);
          break;
        default:
          packet = Core(0x08 + random() % 2, packet);
          break;
      }
    }
    if (packet.size() > 2 && random() % 3 == 0) packet[random() % packet.size()] = random();
    if (random() % 4 == 0) packet.resize(random() % (packet.size() + 1));
    if (packet.empty() || packet.size() > 500) continue;
    records.emplace_back(true, packet);
    wire.Send(records.size() % 2 == 1, packet, true);
  }
  WriteWholeFile(directory / "relay.pcapng", RelayCapture(records));
  // A DNS query cut short: malformed, as Wireshark shows it without the
  // dissector, and no Lua error for it.
  capture.Add(Endpoint("10.0.0.5", 40000), Endpoint("10.0.0.6", 53), Bytes("12 34 01"));
  WriteCapture();
  const fs::path editcap = fs::path(tshark).parent_path() / "editcap";
  if (fs::exists(editcap)) Run(Quoted(editcap.string()) + " -s 45 wire.pcapng cut.pcapng");
  for (const char* file : {"relay.pcapng", "wire.pcapng", "cut.pcapng"}) {
    if (!fs::exists(directory / file)) continue;
    for (const char* passes : {"", "-2"}) {
      const std::string output = Run(Quoted(TsharkWithDissector(tshark, directory, "")) +
                                     " -n -V " + passes + " -r " + file + " 2>&1");
      const std::size_t error = output.find("Lua Error");
      EXPECT_EQ(error, std::string::npos)
          << file << " " << passes << ": " << output.substr(error > 2000 ? error - 2000 : 0, 4000);
      EXPECT_NE(output.find("SubSpace"), std::string::npos) << file;
      if (std::string(file) == "wire.pcapng") {
        EXPECT_NE(output.find("[Malformed Packet: DNS]"), std::string::npos) << passes;
      }
    }
  }
}

}  // namespace
}  // namespace tessard::testing
