// qrvcamctl: controls the virtual camera from the command line (the same operations as the
// control exports of qrvcam.dll). Exit code 0 on success, 1 when the operation failed, 2 on a
// usage error.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "camera_wire.h"
#include "qrvcam.h"

namespace {

const char kUsage[] =
    "usage: qrvcamctl COMMAND\n"
    "  reset                      unplug every camera, clear log and counters\n"
    "  plug N [usb|parallel] [id=X|id=sentrio] [serial=TEXT] [port=N] [address=X] [mode=N] [fixed|interface|both]\n"
    "                             plug a camera into position N (0-15); default: usb, fixed path\n"
    "  unplug N                   unplug the camera at N\n"
    "  gone N 0|1                 make the camera at N answer status 18 (gone), or answer again\n"
    "  button N 0|1               release or press the camera's push-button\n"
    "  list                       show the cameras\n"
    "  regs N                     show the registers of the camera at N\n"
    "  log [clear]                show (or clear) the log of requests\n"
    "  scene [N]                  choose the scene every camera shows (without N: show the scenes)\n"
    "  pacing MS                  least time between two frames (0: none; 33: about 30 a second)\n"
    "  replay N FILE...           the camera at N delivers each file's bytes as its next frames\n"
    "  replay N clear             forget the files still waiting\n";

bool parseNumber(const char* text, long& value) {
  if (!text || !*text) return false;
  char* end = nullptr;
  value = static_cast<long>(std::strtoul(text, &end, 0));
  return *end == 0;
}

bool startsWith(const char* text, const char* prefix) { return std::strncmp(text, prefix, std::strlen(prefix)) == 0; }

void copyText(char* field, const char* text) {
  std::strncpy(field, text, VCAM_TEXT_SIZE - 1);
  field[VCAM_TEXT_SIZE - 1] = 0;
}

// Parses "plug"'s options after the index. Returns false on an unknown option.
bool parsePlugOptions(int argc, char** argv, VCamDevice& device) {
  device.busType = 2;
  device.publish = VCAM_PUBLISH_FIXED_PATH;
  for (int i = 0; i < argc; ++i) {
    const char* arg = argv[i];
    long number = 0;
    if (!std::strcmp(arg, "usb"))
      device.busType = 2;
    else if (!std::strcmp(arg, "parallel"))
      device.busType = 1;
    else if (!std::strcmp(arg, "fixed"))
      device.publish = VCAM_PUBLISH_FIXED_PATH;
    else if (!std::strcmp(arg, "interface"))
      device.publish = VCAM_PUBLISH_INTERFACE;
    else if (!std::strcmp(arg, "both"))
      device.publish = VCAM_PUBLISH_FIXED_PATH | VCAM_PUBLISH_INTERFACE;
    else if (startsWith(arg, "serial="))
      copyText(device.serial, arg + 7);
    else if (!std::strcmp(arg, "id=sentrio"))
      device.deviceId = camwire::SentrioV2DeviceId;
    else if (startsWith(arg, "id=") && parseNumber(arg + 3, number))
      device.deviceId = number;
    else if (startsWith(arg, "port=") && parseNumber(arg + 5, number))
      device.portNumber = number;
    else if (startsWith(arg, "address=") && parseNumber(arg + 8, number))
      device.portAddress = number;
    else if (startsWith(arg, "mode=") && parseNumber(arg + 5, number))
      device.portMode = number;
    else
      return false;
  }
  return true;
}

const char* codeName(DWORD code) {
  switch (code) {
    case camwire::kGetInfo:
      return "get-info";
    case camwire::kVendorRequest:
      return "vendor";
    case camwire::kReadFrame:
      return "read-frame";
    case camwire::kGetDriverInfo:
      return "driver-info";
    default:
      return "?";
  }
}

int listCameras() {
  for (int i = 0; i < VCAM_MAX_DEVICES; ++i) {
    VCamDeviceStatus status;
    if (!VCamGetDeviceStatus(i, &status)) return 1;
    if (!status.present) continue;
    const VCamDevice& d = status.device;
    std::printf("%2d %-8s id=0x%04lX serial=\"%.*s\"%s%s%s%s frames=%lu\n", i, d.busType == 1 ? "parallel" : "usb",
                static_cast<unsigned long>(d.deviceId), VCAM_TEXT_SIZE, d.serial, status.open ? " open" : "",
                status.gone ? " gone" : "", status.button ? " button" : "",
                (d.publish & VCAM_PUBLISH_INTERFACE) ? " interface" : "",
                static_cast<unsigned long>(status.framesDelivered));
  }
  return 0;
}

int showRegisters(int index) {
  for (int reg = 0; reg < VCAM_REGISTER_COUNT; ++reg) {
    DWORD value = 0;
    if (!VCamReadRegister(index, reg, &value)) return 1;
    if (value)
      std::printf("register %2d = %lu (0x%lX)\n", reg, static_cast<unsigned long>(value),
                  static_cast<unsigned long>(value));
  }
  return 0;
}

int showLog() {
  const LONG total = VCamGetLogCount();
  const LONG first = total > VCAM_LOG_CAPACITY ? total - VCAM_LOG_CAPACITY : 0;
  VCamLogEntry entry;
  for (LONG i = first; i < total; ++i) {
    if (VCamReadLog(i, &entry, 1) != 1) break;
    std::printf("%5ld dev %lu %-11s", static_cast<long>(i), static_cast<unsigned long>(entry.device),
                codeName(entry.code));
    if (entry.code == camwire::kVendorRequest)
      std::printf(" dir %lu req 0x%02lX value %lu index %lu length %lu", static_cast<unsigned long>(entry.direction),
                  static_cast<unsigned long>(entry.request), static_cast<unsigned long>(entry.value),
                  static_cast<unsigned long>(entry.index), static_cast<unsigned long>(entry.length));
    std::printf(" status %lu\n", static_cast<unsigned long>(entry.status));
  }
  return 0;
}

const char* const kSceneNames[VCAM_SCENE_COUNT] = {
    "test pattern: colour bars, ramps, fine lines, a bouncing ball (moves)",
    "landscape: a still, photograph-like view",
    "flat grey (128, 128, 128)",
    "flat white (200, 200, 200)",
    "flat red (180, 40, 40)",
    "flat green (40, 180, 40)",
    "flat blue (40, 40, 180)",
    "flat black (0, 0, 0)",
};

int showScenes() {
  const LONG chosen = VCamGetScene();
  if (chosen < 0) return 1;
  for (int scene = 0; scene < VCAM_SCENE_COUNT; ++scene)
    std::printf("%c %d %s\n", scene == chosen ? '*' : ' ', scene, kSceneNames[scene]);
  return 0;
}

int queueReplay(long index, int count, char** files) {
  if (count == 1 && !std::strcmp(files[0], "clear")) return VCamClearReplay(index) ? 0 : 1;
  for (int i = 0; i < count; ++i) {
    const LONG waiting = VCamQueueReplay(index, files[i]);
    if (!waiting) {
      std::fprintf(stderr, "qrvcamctl: could not queue %s (queue full, path too long or no camera)\n", files[i]);
      return 1;
    }
    std::printf("queued %s (%ld waiting)\n", files[i], static_cast<long>(waiting));
  }
  return 0;
}

int run(int argc, char** argv) {
  if (argc < 2) return 2;
  const std::string command = argv[1];
  long index = -1, value = 0;
  const bool haveIndex = argc >= 3 && parseNumber(argv[2], index);
  if (command == "reset" && argc == 2) return VCamReset() ? 0 : 1;
  if (command == "list" && argc == 2) return listCameras();
  if (command == "log" && argc == 2) return showLog();
  if (command == "log" && argc == 3 && !std::strcmp(argv[2], "clear")) return VCamClearLog() ? 0 : 1;
  if (command == "plug" && haveIndex) {
    VCamDevice device{};
    if (!parsePlugOptions(argc - 3, argv + 3, device)) return 2;
    return VCamPlug(index, &device) ? 0 : 1;
  }
  if (command == "unplug" && haveIndex && argc == 3) return VCamUnplug(index) ? 0 : 1;
  if (command == "regs" && haveIndex && argc == 3) return showRegisters(index);
  if (command == "scene" && argc == 2) return showScenes();
  if (command == "scene" && haveIndex && argc == 3) return VCamSetScene(index) ? 0 : 1;
  if (command == "pacing" && haveIndex && argc == 3) return VCamSetPacing(index) ? 0 : 1;
  if (command == "replay" && haveIndex && argc >= 4) return queueReplay(index, argc - 3, argv + 3);
  if ((command == "gone" || command == "button") && haveIndex && argc == 4 && parseNumber(argv[3], value)) {
    return (command == "gone" ? VCamSetGone(index, value) : VCamSetButton(index, value)) ? 0 : 1;
  }
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  const int status = run(argc, argv);
  if (status == 2)
    std::fputs(kUsage, stderr);
  else if (status == 1)
    std::fputs("qrvcamctl: failed (no such camera or scene, or the state could not be opened)\n", stderr);
  return status;
}
