#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <string>

#include "testing/child_process.h"

namespace tessard::testing {
namespace {

HANDLE Handle(std::intptr_t value) { return reinterpret_cast<HANDLE>(value); }

std::intptr_t Value(HANDLE handle) { return reinterpret_cast<std::intptr_t>(handle); }

// Every child joins a job that ends with the test process, so that a test
// that crashes leaves no relay running.
HANDLE ChildrenJob() {
  static const HANDLE job = [] {
    const HANDLE created = CreateJobObjectA(nullptr, nullptr);
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    if (created != nullptr) {
      SetInformationJobObject(created, JobObjectExtendedLimitInformation, &limits, sizeof(limits));
    }
    return created;
  }();
  return job;
}

BOOL WINAPI SwallowCtrlC(DWORD controlType) { return controlType == CTRL_C_EVENT; }

// How a stop request reaches a child: console control events go only to
// processes attached to the sender's console.
enum class StopRoute {
  // The test process has a console of others (ctest's, a terminal's):
  // each child gets a process group of its own and is sent Ctrl-Break,
  // which reaches that group alone.
  kBreakToGroup,
  // The test process had no console (wine under ctest, a CI service): it
  // made one of its own, and Ctrl-C to all of it reaches only the test
  // process, which swallows it, and its children.
  kCtrlCToOwnConsole,
  kNone,
};

StopRoute RouteForStops() {
  static const StopRoute route = [] {
    DWORD attached[1];
    if (GetConsoleProcessList(attached, 1) > 0) return StopRoute::kBreakToGroup;
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    // wine may hold a console reference that no console stands behind.
    if (!AllocConsole() && !(FreeConsole() && AllocConsole())) return StopRoute::kNone;
    SetStdHandle(STD_INPUT_HANDLE, input);
    SetStdHandle(STD_OUTPUT_HANDLE, output);
    SetStdHandle(STD_ERROR_HANDLE, error);
    // A handler, not SetConsoleCtrlHandler(nullptr, TRUE): children would
    // inherit that and ignore Ctrl-C too.
    if (!SetConsoleCtrlHandler(SwallowCtrlC, TRUE)) return StopRoute::kNone;
    return StopRoute::kCtrlCToOwnConsole;
  }();
  return route;
}

HANDLE CreateOutputFile(const std::string& path, SECURITY_ATTRIBUTES& inheritable) {
  return CreateFileA(path.c_str(), GENERIC_WRITE,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, &inheritable,
                     CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

ChildProcess::~ChildProcess() {
  Kill();
  if (inputPipe != -1) CloseHandle(Handle(inputPipe));
}

bool ChildProcess::Start(const std::vector<std::string>& command,
                         const std::string& workingDirectory, const std::string& stdoutPath,
                         const std::string& stderrPath) {
  Kill();
  if (inputPipe != -1) CloseHandle(Handle(inputPipe));
  inputPipe = -1;
  // No Windows process can work in a longer directory, and wine's
  // CreateProcess corrupts its caller's heap when asked to.
  if (command.empty() || workingDirectory.size() >= MAX_PATH - 1) return false;
  // Decided before the first child starts, so that it inherits the console.
  const DWORD group = RouteForStops() == StopRoute::kBreakToGroup ? CREATE_NEW_PROCESS_GROUP : 0;
  SECURITY_ATTRIBUTES inheritable{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &inheritable, 0)) return false;
  SetHandleInformation(writeEnd, HANDLE_FLAG_INHERIT, 0);
  HANDLE output = CreateOutputFile(stdoutPath, inheritable);
  HANDLE error = CreateOutputFile(stderrPath, inheritable);

  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = readEnd;
  startup.hStdOutput = output;
  startup.hStdError = error;
  PROCESS_INFORMATION started{};
  // Each word quoted; the tests' words hold no quotes of their own.
  std::string commandLine;
  for (const std::string& word : command) {
    if (!commandLine.empty()) commandLine += ' ';
    commandLine += '"';
    commandLine += word;
    commandLine += '"';
  }
  const bool ok = output != INVALID_HANDLE_VALUE && error != INVALID_HANDLE_VALUE &&
                  CreateProcessA(command[0].c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                                 group, nullptr, workingDirectory.c_str(), &startup, &started);
  CloseHandle(readEnd);
  if (output != INVALID_HANDLE_VALUE) CloseHandle(output);
  if (error != INVALID_HANDLE_VALUE) CloseHandle(error);
  if (!ok) {
    CloseHandle(writeEnd);
    return false;
  }
  if (ChildrenJob() != nullptr) AssignProcessToJobObject(ChildrenJob(), started.hProcess);
  CloseHandle(started.hThread);
  process = Value(started.hProcess);
  processId = started.dwProcessId;
  inputPipe = Value(writeEnd);
  running = true;
  return true;
}

bool ChildProcess::WriteToStandardInput(const std::string& bytes) {
  if (inputPipe == -1) return false;
  DWORD written = 0;
  return WriteFile(Handle(inputPipe), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                   nullptr) &&
         written == bytes.size();
}

// wine delivers no Ctrl-Break: with a console of others there, no stop
// request can be sent.
bool ChildProcess::RequestStop() {
  if (!running) return false;
  switch (RouteForStops()) {
    case StopRoute::kBreakToGroup:
      return GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, processId) != FALSE;
    case StopRoute::kCtrlCToOwnConsole:
      return GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0) != FALSE;
    default:
      return false;
  }
}

bool ChildProcess::Hold(bool) { return false; }

int ChildProcess::WaitForExit(std::uint32_t timeoutMs) {
  if (!running) return -1;
  if (WaitForSingleObject(Handle(process), timeoutMs) != WAIT_OBJECT_0) return -1;
  DWORD status = 0;
  GetExitCodeProcess(Handle(process), &status);
  CloseHandle(Handle(process));
  process = -1;
  running = false;
  return static_cast<int>(status);
}

void ChildProcess::Kill() {
  if (!running) return;
  TerminateProcess(Handle(process), 1);
  WaitForSingleObject(Handle(process), INFINITE);
  CloseHandle(Handle(process));
  process = -1;
  running = false;
}

}  // namespace tessard::testing
