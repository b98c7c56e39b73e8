#include "child_process.h"

#include <vector>

namespace qrtest {

std::string programDirectory() {
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  std::string directory(path, length);
  return directory.substr(0, directory.find_last_of("\\/") + 1);
}

ChildProcess::ChildProcess(const std::string& program, const std::string& arguments, HANDLE standardOutput) {
  const std::string executable = programDirectory() + program;
  std::string commandLine = "\"" + executable + "\" " + arguments;
  std::vector<char> mutableLine(commandLine.begin(), commandLine.end());
  mutableLine.push_back(0);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  if (standardOutput) {
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = standardOutput;
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  }
  PROCESS_INFORMATION info{};
  if (CreateProcessA(executable.c_str(), mutableLine.data(), nullptr, nullptr, standardOutput ? TRUE : FALSE, 0,
                     nullptr, nullptr, &startup, &info)) {
    CloseHandle(info.hThread);
    process_ = info.hProcess;
  }
}

ChildProcess::~ChildProcess() {
  if (!process_) return;
  if (WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) terminate();
  CloseHandle(process_);
}

long ChildProcess::wait(DWORD timeoutMs) {
  if (!process_ || WaitForSingleObject(process_, timeoutMs) != WAIT_OBJECT_0) return -1;
  DWORD code = 0;
  GetExitCodeProcess(process_, &code);
  return static_cast<long>(code);
}

void ChildProcess::terminate() {
  if (!process_) return;
  TerminateProcess(process_, 99);
  WaitForSingleObject(process_, 10000);
}

long runChild(const std::string& program, const std::string& arguments, DWORD timeoutMs) {
  ChildProcess child(program, arguments);
  return child.wait(timeoutMs);
}

long runChild(const std::string& program, const std::string& arguments, std::string& output, DWORD timeoutMs) {
  output.clear();
  SECURITY_ATTRIBUTES inheritable{};
  inheritable.nLength = sizeof inheritable;
  inheritable.bInheritHandle = TRUE;
  HANDLE readEnd = nullptr, writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &inheritable, 0)) return -1;
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);  // only the write end goes to the child
  ChildProcess child(program, arguments, writeEnd);
  CloseHandle(writeEnd);  // the child's copy is now the only one: its exit ends the reads below
  char chunk[4096];
  DWORD got = 0;
  while (child.started() && ReadFile(readEnd, chunk, sizeof chunk, &got, nullptr) && got > 0) output.append(chunk, got);
  CloseHandle(readEnd);
  // A console program's text-mode output ends its lines in CR LF; the text is what matters.
  std::string text;
  for (std::size_t i = 0; i < output.size(); ++i) {
    if (output[i] != '\r' || i + 1 >= output.size() || output[i + 1] != '\n') text += output[i];
  }
  output.swap(text);
  return child.wait(timeoutMs);
}

NamedEvent::NamedEvent(const std::string& name) : event_(CreateEventA(nullptr, TRUE, FALSE, name.c_str())) {}
NamedEvent::~NamedEvent() {
  if (event_) CloseHandle(event_);
}
void NamedEvent::set() { SetEvent(event_); }
bool NamedEvent::waitFor(DWORD timeoutMs) { return event_ && WaitForSingleObject(event_, timeoutMs) == WAIT_OBJECT_0; }

}  // namespace qrtest
