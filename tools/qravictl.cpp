// qravictl: steers and watches the camera while a capture application streams from it, through the
// capture driver's out-of-band controls in the registry (the "AVI" key of the settings store: the
// flags "OOB Control Enabled" and the values under "OOB Controls"). The driver polls the flags at
// every frame, so each request waits for the driver to acknowledge it.
//
//   qravictl [-w MS] set NAME VALUE [NAME VALUE ...]   set values and have the driver apply them
//   qravictl [-w MS] get                               print the camera's balance, shutter and gain
//   qravictl [-w MS] watch [-n LINES] [-t SECONDS]     print the camera button's state, then its changes
//
// -w is how long to wait for the driver (default 3000 ms). Exit code 0 on success, 1 when no
// driver took the request in time (the request is then taken back, so a later stream does not act
// on it), 2 on a usage error.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "quorelreg.h"

namespace {

const char kKey[] = "AVI";
const char kFlags[] = "OOB Control Enabled";
const char kValues[] = "OOB Controls";
constexpr LONG kEnabled = 1, kApply = 2, kReport = 4, kReportButton = 8;

// The values the driver takes on an apply request.
const char* const kValueNames[] = {"AWB Tracking", "Red Balance",       "Blue Balance",    "Color Saturation",
                                   "AGC Enable",   "AGC Bias",          "Shutter Value",   "Video Gain",
                                   "Gamma Value",  "Image Sharpness",   "Digital Output",  "Image Quality",
                                   "LED Mode",     "60Hz Power System", "Negative Enable", "Mirror Preview",
                                   "Flip Preview", "BLC Value",         "Manual AWB"};
const char* const kCameraValues[] = {"Camera Red Balance", "Camera Blue Balance", "Camera Shutter Value",
                                     "Camera Video Gain"};

int usage() {
  std::fprintf(stderr,
               "usage: qravictl [-w MS] set NAME VALUE [NAME VALUE ...]\n"
               "       qravictl [-w MS] get\n"
               "       qravictl [-w MS] watch [-n LINES] [-t SECONDS]\n"
               "values:");
  for (const char* name : kValueNames) std::fprintf(stderr, " \"%s\"", name);
  std::fprintf(stderr, "\n");
  return 2;
}

bool parseLong(const char* text, long& value) {
  char* end = nullptr;
  value = std::strtol(text, &end, 0);
  return *text && !*end;
}

bool knownValue(const char* name) {
  for (const char* known : kValueNames) {
    if (lstrcmpiA(known, name) == 0) return true;
  }
  return false;
}

const char* canonicalName(const char* name) {
  for (const char* known : kValueNames) {
    if (lstrcmpiA(known, name) == 0) return known;
  }
  return name;
}

LONG flags() { return ExtRegGetVal(kKey, nullptr, kFlags); }

bool writeFlags(LONG value) {
  if (ExtRegSaveVal(kKey, nullptr, kFlags, value)) return true;
  const bool made = CreateNewKey(kKey, nullptr) != 0;
  CloseKey();
  return made && ExtRegSaveVal(kKey, nullptr, kFlags, value);
}

bool writeValue(const char* name, LONG value) {
  if (ExtRegSaveVal(kKey, kValues, name, value)) return true;
  const bool made = CreateNewKey(kKey, kValues) != 0;
  CloseKey();
  return made && ExtRegSaveVal(kKey, kValues, name, value);
}

// Sets `request` (with the enable bit) and waits for the driver to clear it. On time-out the
// request bit is taken back.
bool request(LONG bit, DWORD waitMs) {
  if (!writeFlags(flags() | kEnabled | bit)) {
    std::fprintf(stderr, "qravictl: cannot write \"%s\" (the settings key is not writable)\n", kFlags);
    return false;
  }
  const DWORD start = GetTickCount();
  for (;;) {
    if (!(flags() & bit)) return true;
    if (GetTickCount() - start >= waitMs) break;
    Sleep(10);
  }
  writeFlags(flags() & ~bit);
  std::fprintf(stderr, "qravictl: no capture driver is streaming: the request was not acknowledged within %lu ms\n",
               static_cast<unsigned long>(waitMs));
  return false;
}

int set(const std::vector<std::string>& args, DWORD waitMs) {
  if (args.empty() || args.size() % 2 != 0) return usage();
  for (std::size_t i = 0; i < args.size(); i += 2) {
    long value = 0;
    if (!knownValue(args[i].c_str())) {
      std::fprintf(stderr, "qravictl: \"%s\" is no out-of-band value\n", args[i].c_str());
      return usage();
    }
    if (!parseLong(args[i + 1].c_str(), value)) {
      std::fprintf(stderr, "qravictl: \"%s\" is not a number\n", args[i + 1].c_str());
      return 2;
    }
  }
  for (std::size_t i = 0; i < args.size(); i += 2) {
    long value = 0;
    parseLong(args[i + 1].c_str(), value);
    if (!writeValue(canonicalName(args[i].c_str()), value)) {
      std::fprintf(stderr, "qravictl: cannot write \"%s\"\n", args[i].c_str());
      return 1;
    }
  }
  if (!request(kApply, waitMs)) return 1;
  std::printf("applied %lu value%s\n", static_cast<unsigned long>(args.size() / 2), args.size() == 2 ? "" : "s");
  return 0;
}

int get(DWORD waitMs) {
  if (!request(kReport, waitMs)) return 1;
  for (const char* name : kCameraValues) std::printf("%s: %ld\n", name, ExtRegGetVal(kKey, kValues, name));
  return 0;
}

int watch(const std::vector<std::string>& args, DWORD waitMs) {
  long changes = -1, seconds = 10;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const bool hasValue = i + 1 < args.size();
    if (args[i] == "-n" && hasValue) {
      if (!parseLong(args[++i].c_str(), changes) || changes < 1) return usage();
    } else if (args[i] == "-t" && hasValue) {
      if (!parseLong(args[++i].c_str(), seconds) || seconds < 1) return usage();
    } else {
      return usage();
    }
  }
  // The driver writes the button's state when the report is switched on and then at every change:
  // its first report is the acknowledgement.
  if (!writeValue("Camera Button Status", -1) || !writeFlags(flags() | kEnabled | kReportButton)) {
    std::fprintf(stderr, "qravictl: cannot write \"%s\" (the settings key is not writable)\n", kFlags);
    return 1;
  }
  LONG last = -1;
  long seen = 0;
  DWORD start = GetTickCount();
  while (last == -1) {
    last = ExtRegGetVal(kKey, kValues, "Camera Button Status");
    if (last != -1) break;
    if (GetTickCount() - start >= waitMs) {
      writeFlags(flags() & ~kReportButton);
      std::fprintf(stderr, "qravictl: no capture driver is streaming: the button was not reported within %lu ms\n",
                   static_cast<unsigned long>(waitMs));
      return 1;
    }
    Sleep(10);
  }
  start = GetTickCount();
  for (;;) {
    std::printf("button %s\n", last ? "pressed" : "released");
    std::fflush(stdout);
    if (changes > 0 && ++seen >= changes) break;
    LONG now = last;
    while (now == last && GetTickCount() - start < static_cast<DWORD>(seconds) * 1000) {
      Sleep(10);
      now = ExtRegGetVal(kKey, kValues, "Camera Button Status");
    }
    if (now == last) break;
    last = now;
  }
  writeFlags(flags() & ~kReportButton);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  DWORD waitMs = 3000;
  int i = 1;
  if (i + 1 < argc && std::strcmp(argv[i], "-w") == 0) {
    long value = 0;
    if (!parseLong(argv[i + 1], value) || value < 1) return usage();
    waitMs = static_cast<DWORD>(value);
    i += 2;
  }
  if (i >= argc) return usage();
  const std::string command = argv[i];
  const std::vector<std::string> args(argv + i + 1, argv + argc);
  if (command == "set") return set(args, waitMs);
  if (command == "get") return args.empty() ? get(waitMs) : usage();
  if (command == "watch") return watch(args, waitMs);
  return usage();
}
