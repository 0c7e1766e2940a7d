#include "relay/relay_outputs.h"

#include "log/log_stream.h"
#include "platform/platform.h"
#include "relay/problem_report.h"
#include "relay/relay_settings.h"

namespace tessard {
namespace {

using platform::OutputOpening;

struct OpenedFile {
  const char* path = nullptr;
  int descriptor = -1;
  bool created = false;
  OutputOpening opening = OutputOpening::kFailed;
  char reason[256] = "";
};

void OpenFile(const char* path, OpenedFile& file) {
  file.path = path;
  file.opening = platform::OpenOutputFile(path, &file.descriptor, &file.created, file.reason,
                                          sizeof(file.reason));
}

// Lets go of a file unchanged, removing it if it was created only now.
void GiveBack(OpenedFile& file) {
  if (file.descriptor == -1) return;
  char ignored[8];
  platform::CloseOutputFile(file.descriptor, ignored, sizeof(ignored));
  file.descriptor = -1;
  if (file.created) platform::RemoveOutputFile(file.path);
}

// Empties a locked file; false, with the reason, when that fails (the file
// is then let go).
bool Empty(OpenedFile& file) {
  if (platform::EmptyOutputFile(file.descriptor, file.reason, sizeof(file.reason))) return true;
  GiveBack(file);
  file.opening = OutputOpening::kFailed;
  return false;
}

void ReportLogFailure(const char* reason, bool endMayBeTorn, bool /*readerLeft*/) {
  ReportProblem("cannot write log file %s: %s; nothing more is logged%s", relaySettings.logPath,
                reason, endMayBeTorn ? ", and its last line may be cut short" : "");
}

void ReportCaptureFailure(const char* reason, bool endMayBeTorn, bool readerLeft) {
  ReportProblem(
      "cannot write capture file %s: %s; %s%s", relaySettings.capturePath, reason,
      readerLeft ? "the capture starts again when a reader opens it" : "nothing more is captured",
      endMayBeTorn ? ", and its last record may be cut short" : "");
}

// Wireshark ends a capture by leaving the pipe: that is no failure to
// tell of.
void ReportPipeCaptureFailure(const char* reason, bool endMayBeTorn, bool readerLeft) {
  if (!readerLeft) ReportCaptureFailure(reason, endMayBeTorn, readerLeft);
}

void ReportCaptureRestart() {
  ReportProblem("capture file %s has a new reader: the capture starts again",
                relaySettings.capturePath);
}

}  // namespace

bool OutputNamesTheSettingsFile() {
  const struct {
    const char* path;
    const char* name;
  } outputs[] = {{relaySettings.logPath, "log"}, {relaySettings.capturePath, "capture"}};
  for (const auto& output : outputs) {
    if (output.path[0] == '\0') continue;
    if (platform::SameOutputFile(output.path, relaySettings.settingsPath)) {
      ReportProblem(
          "cannot use %s as the %s file: it is the settings file %s; stopping without touching "
          "any file",
          output.path, output.name, relaySettings.settingsPath);
      return true;
    }
  }
  return false;
}

bool RelayOutputs::Open() { return OpenOutputs(false, 0); }

bool RelayOutputs::OpenEveryOne(std::uint32_t waitMs) { return OpenOutputs(true, waitMs); }

bool RelayOutputs::OpenOutputs(bool required, std::uint32_t waitMs) {
  const char* logPath = relaySettings.logPath;
  const char* capturePath = relaySettings.capturePath;
  const char* stopping = required ? "stopping" : "stopping without touching any file";
  everyOneRequired = required;
  logAsked = !required || logPath[0] != '\0';
  OpenedFile logFile;
  if (logAsked) {
    OpenFile(logPath, logFile);
    if (logFile.opening == OutputOpening::kInUse ||
        (everyOneRequired && logFile.opening != OutputOpening::kOpened)) {
      ReportProblem("cannot open log file %s: %s; %s", logPath, logFile.reason, stopping);
      return false;
    }
  }
  // The log exists by now, if it can exist at all, so the same file is seen
  // however the two paths spell it.
  const bool captureIsLog =
      logAsked && capturePath[0] != '\0' && platform::SameOutputFile(capturePath, logPath);
  OpenedFile captureFile;
  if (capturePath[0] != '\0' && !captureIsLog) {
    OpenFile(capturePath, captureFile);
    // The reader of a pipe that Wireshark made opens it a moment after the
    // relay starts.
    const std::uint32_t startedAt = platform::TickCount();
    while (everyOneRequired && captureFile.opening == OutputOpening::kNoReader &&
           !platform::StopRequested() && platform::TickCount() - startedAt < waitMs) {
      platform::SleepAlertable(10);
      OpenFile(capturePath, captureFile);
    }
    if (captureFile.opening == OutputOpening::kInUse ||
        (everyOneRequired && captureFile.opening != OutputOpening::kOpened)) {
      ReportProblem("cannot open capture file %s: %s; %s", capturePath, captureFile.reason,
                    stopping);
      GiveBack(logFile);
      return false;
    }
  }
  if (everyOneRequired && captureIsLog) {
    ReportProblem("cannot use %s as the capture file: it is the log file; stopping", capturePath);
    GiveBack(logFile);
    return false;
  }

  // Both are locked: only now is anything emptied.
  if (logFile.opening == OutputOpening::kOpened && Empty(logFile)) {
    log = std::make_unique<FileOutput>(logFile.descriptor);
    platform::PointStandardOutputAt(logFile.descriptor);
    SetLogOutput(log.get());
    SetLogFailureHandler(ReportLogFailure);
    logOpen = true;
  } else {
    if (required && logAsked) {
      ReportProblem("cannot open log file %s: %s; %s", logPath, logFile.reason, stopping);
      GiveBack(captureFile);
      return false;
    }
    if (logAsked) {
      ReportProblem("cannot open log file %s: %s; relaying without a log", logPath, logFile.reason);
    }
    platform::PointStandardOutputAt(-1);
  }
  if (captureIsLog) {
    ReportProblem(
        "cannot use %s as the capture file: it is the log file %s; relaying without a capture",
        capturePath, logPath);
  } else if (captureFile.opening == OutputOpening::kOpened && Empty(captureFile)) {
    capture.Start(std::make_unique<FileOutput>(captureFile.descriptor),
                  everyOneRequired ? ReportPipeCaptureFailure : ReportCaptureFailure);
    capture.WatchReader();
    if (!everyOneRequired) capture.FollowReaders(capturePath, ReportCaptureRestart);
  } else if (capturePath[0] != '\0') {
    ReportProblem("cannot open capture file %s: %s; relaying without a capture", capturePath,
                  captureFile.reason);
  }
  captureRefused = capturePath[0] != '\0' && !capture.IsOpen();
  return true;
}

bool RelayOutputs::Close() {
  bool logWhole = !logAsked;
  if (logOpen) {
    // Standard output lets go of the log first, so that closing the log's
    // own descriptor closes the file, and tells whether that worked.
    platform::PointStandardOutputAt(-1);
    logWhole = CloseLogOutput();
    SetLogOutput(nullptr);
    log.reset();
  }
  // Wireshark's reader leaving the pipe ends the capture as it meant to.
  const bool readerLeft = everyOneRequired && capture.ReaderLeft();
  const bool captureWhole = (capture.Close() || readerLeft) && !captureRefused;
  return logWhole && captureWhole;
}

}  // namespace tessard
