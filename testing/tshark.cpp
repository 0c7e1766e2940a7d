#include "testing/tshark.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "testing/child_process.h"

namespace tessard::testing {

namespace fs = std::filesystem;

std::string FindOnPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  std::stringstream directories(path == nullptr ? "/usr/bin" : path);
  for (std::string directory; std::getline(directories, directory, ':');) {
    const fs::path candidate = fs::path(directory) / program;
    if (!directory.empty() && fs::exists(candidate)) return candidate.string();
  }
  return {};
}

std::string FindTshark() { return FindOnPath("tshark"); }

bool ReadFrames(const std::string& tshark, const fs::path& directory,
                const std::string& captureName, const std::vector<std::string>& fields,
                std::vector<std::vector<std::string>>* frames, std::string* error) {
  std::ofstream script(directory / "read.sh");
  script << "#!/bin/sh\nexec '" << tshark << "' -n -r '" << captureName
         << "' -o ip.check_checksum:TRUE -T fields -E separator=/t";
  for (const std::string& field : fields) script << " -e " << field;
  script << "\n";
  script.close();
  fs::permissions(directory / "read.sh", fs::perms::owner_all);
  ChildProcess reader;
  if (!reader.Start((directory / "read.sh").string(), directory.string(),
                    (directory / "frames.txt").string(),
                    (directory / "tshark-errors.txt").string())) {
    *error = "tshark could not be started";
    return false;
  }
  const int status = reader.WaitForExit(60000);
  if (status != 0) {
    std::stringstream complaint;
    complaint << "tshark ended with " << status << ": "
              << std::ifstream(directory / "tshark-errors.txt").rdbuf();
    *error = complaint.str();
    return false;
  }
  std::ifstream printed(directory / "frames.txt");
  for (std::string line; std::getline(printed, line);) {
    std::vector<std::string> row;
    std::stringstream split(line);
    for (std::string field; std::getline(split, field, '\t');) row.push_back(field);
    if (!line.empty() && line.back() == '\t') row.emplace_back();
    if (row.size() != fields.size()) {
      *error = "a frame with " + std::to_string(row.size()) + " fields: " + line;
      return false;
    }
    // The direction shows as "0x00000001" in some versions, "1" in others.
    for (std::size_t i = 0; i < fields.size(); ++i) {
      if (fields[i] == "frame.packet_flags_direction" && !row[i].empty()) {
        row[i] = std::to_string(std::stoul(row[i], nullptr, 0));
      }
    }
    frames->push_back(row);
  }
  return true;
}

std::string Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    text += kDigits[byte >> 4];
    text += kDigits[byte & 15];
  }
  return text;
}

}  // namespace tessard::testing
