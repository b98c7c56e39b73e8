// install_probe.exe: what the installer test asks of an installed system, done as Windows
// programs do it.
//   exec PROGRAM [ARGUMENT...]  runs PROGRAM with the arguments as they are given (quotes kept, so
//                               /NAME="Two Words" reaches the program as a person types it), waits
//                               for it and every process it starts, prints its exit code in full
//                               and exits with it
//   driver NAME                 opens the capture driver registered as NAME through winmm
//                               (OpenDriver, the video-input channel), as a capture program does
//   lock PATH SECONDS           holds the file PATH open without sharing that long, as Windows
//                               holds a loaded DLL (Wine lets a loaded DLL be overwritten)
//   twain PATH                  loads the TWAIN source PATH and asks it for its identity
//   run PROGRAM SECONDS         starts PROGRAM, waits up to SECONDS for a visible window of its
//                               own, prints its title, closes it and waits for the program to end
// Exit 0 on success, 1 on failure (a line on stderr says why), 2 on a usage error.
#include <windows.h>
#include <mmsystem.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "driver_abi.h"
#include "proc_address.h"
#include "twain.h"

namespace {

int fail(const char* what, const char* detail) {
  std::fprintf(stderr, "install_probe: %s: %s\n", what, detail);
  return 1;
}

// Whether a process started (directly or further down) by the process `root` still runs.
bool descendantRuns(DWORD root) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return false;
  std::vector<std::pair<DWORD, DWORD>> processes;  // id, parent
  PROCESSENTRY32 entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry))
    processes.emplace_back(entry.th32ProcessID, entry.th32ParentProcessID);
  CloseHandle(snapshot);
  std::vector<DWORD> family{root};
  for (bool grew = true; grew;) {
    grew = false;
    for (const auto& [id, parent] : processes) {
      if (std::find(family.begin(), family.end(), parent) != family.end() &&
          std::find(family.begin(), family.end(), id) == family.end()) {
        family.push_back(id);
        grew = true;
      }
    }
  }
  return family.size() > 1;
}

int exec(int argc, char** argv) {
  std::string line = std::string("\"") + argv[2] + "\"";
  for (int i = 3; i < argc; ++i) line += std::string(" ") + argv[i];
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
    return fail("cannot start", line.c_str());
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 1;
  GetExitCodeProcess(process.hProcess, &code);
  // An uninstaller runs from a copy of itself and ends at once: wait for what it started too.
  while (descendantRuns(process.dwProcessId)) Sleep(50);
  std::printf("exit code %lu\n", static_cast<unsigned long>(code));
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return static_cast<int>(code);
}

HDRVR openDriver(const char* name) {
  wchar_t wide[64];
  MultiByteToWideChar(CP_ACP, 0, name, -1, wide, 64);
  avi::VideoOpenParms parms{};
  parms.dwSize = sizeof parms;
  parms.fccType = avi::kFccVcap;
  parms.dwVersion = 0x00030000;
  parms.dwFlags = avi::kVideoIn;
  return OpenDriver(wide, L"Drivers32", reinterpret_cast<LPARAM>(&parms));
}

int driver(const char* name) {
  HDRVR handle = openDriver(name);
  if (!handle) return fail("OpenDriver failed", name);
  std::printf("opened %s\n", name);
  CloseDriver(handle, 0, 0);
  return 0;
}

int lock(const char* path, int seconds) {
  HANDLE file = CreateFileA(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return fail("cannot open", path);
  std::printf("locked %s\n", path);
  std::fflush(stdout);
  Sleep(static_cast<DWORD>(seconds) * 1000);
  CloseHandle(file);
  return 0;
}

int twain(const char* path) {
  HMODULE source = LoadLibraryA(path);
  if (!source) return fail("cannot load", path);
  auto entry = compat::procAddress<DSENTRYPROC>(source, "DS_Entry");
  if (!entry) return fail("no DS_Entry in", path);
  TW_IDENTITY application{};
  TW_IDENTITY identity{};
  if (entry(&application, DG_CONTROL, DAT_IDENTITY, MSG_GET, &identity) != TWRC_SUCCESS)
    return fail("DAT_IDENTITY MSG_GET failed in", path);
  std::printf("%s: %s\n", path, identity.ProductName);
  FreeLibrary(source);
  return 0;
}

struct Search {
  DWORD process;
  HWND window;
};

BOOL CALLBACK findWindow(HWND window, LPARAM context) {
  auto* search = reinterpret_cast<Search*>(context);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (owner == search->process && IsWindowVisible(window) && !GetWindow(window, GW_OWNER)) {
    search->window = window;
    return FALSE;
  }
  return TRUE;
}

int run(const char* program, int seconds) {
  std::string line = std::string("\"") + program + "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
    return fail("cannot start", program);
  Search search{process.dwProcessId, nullptr};
  for (int waited = 0; !search.window && waited < seconds * 10; ++waited) {
    if (WaitForSingleObject(process.hProcess, 100) == WAIT_OBJECT_0)
      return fail("ended before it showed a window", program);
    EnumWindows(findWindow, reinterpret_cast<LPARAM>(&search));
  }
  int result = 0;
  if (!search.window) {
    result = fail("showed no window", program);
    TerminateProcess(process.hProcess, 1);
  } else {
    char title[256] = "";
    GetWindowTextA(search.window, title, sizeof title);
    std::printf("window: %s\n", title);
    PostMessageA(search.window, WM_CLOSE, 0, 0);
    if (WaitForSingleObject(process.hProcess, 10000) != WAIT_OBJECT_0) {
      result = fail("did not end when its window was closed", program);
      TerminateProcess(process.hProcess, 1);
    }
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc > 1 ? argv[1] : "";
  if (command == "exec" && argc >= 3) return exec(argc, argv);
  if (command == "driver" && argc == 3) return driver(argv[2]);
  if (command == "lock" && argc == 4) return lock(argv[2], std::atoi(argv[3]));
  if (command == "twain" && argc == 3) return twain(argv[2]);
  if (command == "run" && argc == 4) return run(argv[2], std::atoi(argv[3]));
  std::fprintf(stderr,
               "usage: install_probe exec PROGRAM [ARGUMENT...] | driver NAME | lock PATH SECONDS | twain PATH | run "
               "PROGRAM SECONDS\n");
  return 2;
}
