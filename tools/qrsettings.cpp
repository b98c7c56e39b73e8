// qrsettings: shows and edits the front ends' settings profiles from the command line.
//
//   qrsettings show                                  every front end's profiles and values
//   qrsettings set FRONTEND PROFILE VALUE TEXT       writes one value into UserProfile<PROFILE>
//                                                    (creating the key)
// FRONTEND is the front end's sub-key: QRViewer, AVI or Twain.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "quorelreg.h"
#include "regpath.h"

namespace {

const char* const kFrontEnds[] = {"QRViewer", "AVI", "Twain"};

// Lists the values of one front end's profile key as name = text.
void printValues(const char* frontEnd, const std::string& profile) {
  char path[quorelreg::kPathBufferSize];
  HKEY key;
  if (!quorelreg::composePath(frontEnd, profile.c_str(), path) ||
      RegOpenKeyA(HKEY_LOCAL_MACHINE, path, &key) != ERROR_SUCCESS)
    return;
  char name[256];
  BYTE data[256];
  for (DWORD i = 0;; ++i) {
    DWORD nameSize = sizeof name, dataSize = sizeof data - 1, type = 0;
    LONG status = RegEnumValueA(key, i, name, &nameSize, nullptr, &type, data, &dataSize);
    if (status == ERROR_NO_MORE_ITEMS) break;
    if (status != ERROR_SUCCESS) continue;
    data[dataSize] = 0;
    if (type == REG_SZ)
      std::printf("    %-28s = %s\n", name, reinterpret_cast<char*>(data));
    else if (type == REG_DWORD)
      std::printf("    %-28s = %lu (dword)\n", name, *reinterpret_cast<DWORD*>(data));
  }
  RegCloseKey(key);
}

int show() {
  for (const char* frontEnd : kFrontEnds) {
    std::printf("%s: current profile index %ld\n", frontEnd, ExtRegGetVal(frontEnd, nullptr, "Current Profile"));
    for (long index = 0; index < 9; ++index) {
      std::string profile = quorelreg::profileKeyName(index);
      char name[256];
      if (!ExtRegGetString(frontEnd, profile.c_str(), "Profile Name", name)) continue;
      std::printf("  %s \"%s\"\n", profile.c_str(), name);
      printValues(frontEnd, profile);
    }
  }
  return 0;
}

int set(const char* frontEnd, const char* profileNumber, const char* valueName, const char* text) {
  long number = std::strtol(profileNumber, nullptr, 10);
  if (number < 1 || number > 9) {
    std::fprintf(stderr, "qrsettings: profile must be 1 to 9\n");
    return 2;
  }
  std::string profile = quorelreg::profileKeyName(number - 1);
  if (!CreateNewKey(frontEnd, profile.c_str()) || !RegSaveString(valueName, text)) {
    std::fprintf(stderr, "qrsettings: cannot write %s\\%s \"%s\"\n", frontEnd, profile.c_str(), valueName);
    CloseKey();
    return 1;
  }
  CloseKey();
  std::printf("%s\\%s: \"%s\" = %s\n", frontEnd, profile.c_str(), valueName, text);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::strcmp(argv[1], "show") == 0) return show();
  if (argc == 6 && std::strcmp(argv[1], "set") == 0) return set(argv[2], argv[3], argv[4], argv[5]);
  std::fprintf(stderr, "usage: qrsettings show\n       qrsettings set FRONTEND PROFILE VALUE TEXT\n");
  return 2;
}
