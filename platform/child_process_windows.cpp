#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <string>

#include "platform/child_process.h"

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

bool ChildProcess::Start(const std::string& program, const std::string& workingDirectory,
                         const std::string& stdoutPath, const std::string& stderrPath) {
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
  std::string commandLine = "\"" + program + "\"";
  const bool ok = output != INVALID_HANDLE_VALUE && error != INVALID_HANDLE_VALUE &&
                  CreateProcessA(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE,
                                 CREATE_NEW_PROCESS_GROUP, nullptr, workingDirectory.c_str(),
                                 &startup, &started);
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

bool ChildProcess::RequestStop() {
  return running && GenerateConsoleCtrlEvent(CTRL_BREAK_EVENT, processId);
}

bool ChildProcess::CanRequestStop() { return GetConsoleWindow() != nullptr; }

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
