// The log and the capture the user asked for, opened so that no output
// spoils another file: never the settings file, never each other, never a
// file that another running relay is writing.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/output_writer.h"
#include "relay/traffic_capture.h"

namespace tessard {

// True, after telling why, when the log or the capture names the settings
// file: the relay must not start. Asked before anything is opened.
bool OutputNamesTheSettingsFile();

class RelayOutputs {
 public:
  // Opens the log (standard output goes there as well) and the capture and
  // takes their locks, and only then empties them. False, told, when
  // another running relay or program is writing one of them: no file has
  // been changed then (one this call created is removed again), and the
  // relay must stop. An output that cannot be had otherwise, or a capture
  // naming the log file, is told, and relaying goes on without it.
  bool Open();
  // For a relay started by Wireshark: every output asked for must be had.
  // An empty log path means no log. The capture pipe is waited for until
  // its reader opens it (Wireshark starts the reader beside the relay), a
  // stop is requested or waitMs pass. False, told, when an output cannot be
  // had: nothing is left changed or created then.
  bool OpenEveryOne(std::uint32_t waitMs);

  // The capture to record into; nullptr when there is none.
  TrafficCapture* Capture() { return capture.IsOpen() ? &capture : nullptr; }

  // Writes out and closes the log, then closes the capture. True when every
  // output asked for was written whole.
  bool Close();

 private:
  bool OpenOutputs(bool required, std::uint32_t waitMs);

  bool logOpen = false;
  bool logAsked = true;
  bool everyOneRequired = false;
  bool captureRefused = false;  // asked for, but could not be had
  std::unique_ptr<FileOutput> log;
  TrafficCapture capture;
};

}  // namespace tessard
