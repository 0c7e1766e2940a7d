// A reader of the relay's capture files for the tests: every packet record
// with its framing taken apart and checked, so that a test can compare what
// was carried with what was recorded.
//
// Written on purpose independently of the writer in capture/, and it must
// stay so: it is the check of that writer's framing. A reader that shared
// the writer's constants, sizes or byte-order helpers would agree with any
// mistake in them.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace tessard::testing {

struct CaptureRecord {
  std::uint32_t interface = 0;
  std::uint64_t time = 0;  // microseconds since 1970
  std::uint32_t flags = 0;
  std::string source;  // "127.0.0.1:52000"
  std::string destination;
  std::string payload;
  std::string comment;  // empty when there is none

  bool operator==(const CaptureRecord&) const = default;
};

struct CaptureContents {
  std::vector<std::string> interfaceNames;
  std::vector<CaptureRecord> records;
  std::string error;  // the first thing found wrong; empty when none
};

// Reads a whole capture file. Checks the section header, the interfaces
// (IPv4 link, microsecond stamps) and each packet record's block lengths,
// IPv4 header (with its checksum) and UDP header; the first fault goes into
// error and ends the reading.
CaptureContents ReadCapture(const std::string& bytes);

// For test failures: every field, the payload in hexadecimal.
std::ostream& operator<<(std::ostream& out, const CaptureRecord& record);

// "a.b.c.d:port", as the records name their endpoints.
std::string EndpointText(std::uint32_t hostOrderAddress, std::uint16_t port);

}  // namespace tessard::testing
