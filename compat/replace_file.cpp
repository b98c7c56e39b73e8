#include "replace_file.h"

#include <windows.h>

#include <string>

#include "proc_address.h"

namespace compat {

namespace {

using MoveFileExProc = BOOL(WINAPI*)(LPCSTR, LPCSTR, DWORD);

// MoveFileExA, taken at run time: Windows 95/98 export a stub that only fails.
MoveFileExProc moveFileEx() {
  static const MoveFileExProc proc = procAddress<MoveFileExProc>(GetModuleHandleA("KERNEL32.DLL"), "MoveFileExA");
  return proc;
}

}  // namespace

// Windows 95/98: MoveFile refuses an existing target, so the old file steps aside first.
bool replaceFileByRenames(const char* from, const char* to) {
  if (GetFileAttributesA(to) == INVALID_FILE_ATTRIBUTES) return MoveFileA(from, to) != FALSE;
  const std::string aside = std::string(to) + ".old";
  DeleteFileA(aside.c_str());
  if (!MoveFileA(to, aside.c_str())) return false;
  if (!MoveFileA(from, to)) {
    MoveFileA(aside.c_str(), to);
    return false;
  }
  DeleteFileA(aside.c_str());
  return true;
}

bool replaceFile(const char* from, const char* to) {
  if (MoveFileExProc proc = moveFileEx()) {
    if (proc(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED)) return true;
    if (GetLastError() != ERROR_CALL_NOT_IMPLEMENTED) return false;
  }
  return replaceFileByRenames(from, to);
}

}  // namespace compat
