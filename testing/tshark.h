// tshark, the command-line reader of the packet tools, run on a capture
// file: the real consumer of what the relay writes. POSIX only (tshark is
// started through a shell script).
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace tessard::testing {

// The path of program in one of PATH's directories, or empty when none
// holds it.
std::string FindOnPath(const std::string& program);
// tshark's path, or empty when it is not installed.
std::string FindTshark();

// The fields of every frame of the capture file named captureName in
// directory, one row per frame, as `tshark -T fields` prints them: no name
// look-ups, IPv4 checksums checked, and a frame's direction flag read as a
// number whichever way this version prints it. The field
// "frame.packet_flags_direction" comes back as "1" or "2". False, with
// tshark's complaint in error, when it fails.
bool ReadFrames(const std::string& tshark, const std::filesystem::path& directory,
                const std::string& captureName, const std::vector<std::string>& fields,
                std::vector<std::vector<std::string>>* frames, std::string* error);

// The bytes as tshark prints a payload: lowercase hexadecimal.
std::string Hex(const std::string& bytes);

}  // namespace tessard::testing
