#include "camera_table.h"

#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

#include "camera_io.h"
#include "device_provider.h"
#include "discovery_policy.h"
#include "frame_capture.h"
#include "library_state.h"

namespace camlib {

namespace {

// Kept in a section of its own, named as the camera's tools expect; it carries no sharing
// attribute, so every process has its own copy.
DiscoveryBlock discoveryBlock __attribute__((section(".shared_"))) = {0, 0, 0, {}, {}, {}, {}, 1};
LibraryBlock libraryBlock;

constexpr int kMaxInterfaces = 256;  // guards against an enumeration that never ends

int findSlotWithPath(const char* path) {
  for (int i = 0; i < kMaxCameras; ++i) {
    if (discoveryBlock.slots[i].path[0] && std::strcmp(discoveryBlock.slots[i].path, path) == 0) return i;
  }
  return -1;
}

int firstFreeSlot() {
  for (int i = 0; i < kMaxCameras; ++i) {
    if (!discoveryBlock.slots[i].path[0]) return i;
  }
  return -1;
}

void storePath(int slot, const char* path) {
  std::strncpy(discoveryBlock.slots[slot].path, path, sizeof discoveryBlock.slots[slot].path - 1);
  discoveryBlock.slots[slot].path[sizeof discoveryBlock.slots[slot].path - 1] = 0;
}

// Clears slot and camera record, closing what is open. CameraCount follows the registered cameras,
// whatever their bus, so that it always tells how full the table is.
void dropCamera(int index) {
  DeviceSlot& slot = discoveryBlock.slots[index];
  CameraRecord& record = discoveryBlock.records[index];
  closeDevice(slot.device);
  if (slot.mutex) CloseHandle(slot.mutex);
  if (record.id != 0 && discoveryBlock.cameraCount > 0) --discoveryBlock.cameraCount;
  std::memset(&slot, 0, sizeof slot);
  std::memset(&record, 0, sizeof record);
  if (libraryBlock.currentIndex == index) libraryBlock.currentIndex = kNoCamera;
}

int scanFixedPaths() {
  int found = 0;
  for (int digit = 0; digit < kMaxCameras; ++digit) {
    const std::string path = fixedDevicePath(digit);
    int slot = findSlotWithPath(path.c_str());
    if (slot >= 0) {
      discoveryBlock.slots[slot].stale = 0;
      // Acquired by this process: present, and found. Not counting it would send the search on to
      // the interface class, where the same camera, published there too, would be met under its
      // interface path as a device held open by someone.
      if (discoveryBlock.slots[slot].device) {
        ++found;
        continue;
      }
    } else {
      slot = firstFreeSlot();
      if (slot < 0) continue;
      storePath(slot, path.c_str());
    }
    bool busy = false;
    HANDLE device = openDevice(path.c_str(), &busy);
    if (device) {
      closeDevice(device);
      discoveryBlock.slots[slot].infoValid = 0;
      ++found;
    } else {
      if (busy) ++libraryBlock.busyDevices;
      dropCamera(slot);
    }
  }
  return found;
}

// The path of one enumerated interface, or an empty string.
std::string interfacePath(const SetupApi& api, HDEVINFO list, SP_DEVICE_INTERFACE_DATA& data) {
#if !defined(_WIN64)
  static_assert(sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A) == 5, "the detail record of 32-bit Windows");
#endif
  DWORD required = 0;
  api.interfaceDetail(list, &data, nullptr, 0, &required, nullptr);
  const DWORD header = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
  if (required <= header || required > 4096) return std::string();
  std::vector<char> buffer(required + 1, 0);
  auto* detail = reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_A>(buffer.data());
  detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
  if (!api.interfaceDetail(list, &data, detail, required, nullptr, nullptr)) return std::string();
  const std::size_t room = required - header;
  const std::size_t length = strnlen(detail->DevicePath, room);
  if (length == 0 || length >= sizeof(DeviceSlot::path)) return std::string();
  return std::string(detail->DevicePath, length);
}

void scanInterfaceClass() {
  SetupApi api;
  if (!openSetupApi(api)) return;
  GUID classGuid;
  std::memcpy(&classGuid, &camwire::kInterfaceClass, sizeof classGuid);
  HDEVINFO list = api.getClassDevs(&classGuid, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (list == INVALID_HANDLE_VALUE || list == nullptr) {
    closeSetupApi(api);
    return;
  }
  for (DWORD member = 0; member < kMaxInterfaces; ++member) {
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    if (!api.enumInterfaces(list, nullptr, &classGuid, member, &data)) break;  // ERROR_NO_MORE_ITEMS, or broken
    const std::string path = interfacePath(api, list, data);
    if (path.empty()) continue;
    const int known = findSlotWithPath(path.c_str());
    if (known >= 0) {
      discoveryBlock.slots[known].stale = 0;
      continue;
    }
    // A full table skips this device but goes on, so that the cameras listed after it are still
    // seen as present.
    const int slot = firstFreeSlot();
    if (slot >= 0) storePath(slot, path.c_str());
  }
  api.destroyList(list);
  closeSetupApi(api);
}

std::int32_t takeNextCameraId() {
  if (discoveryBlock.nextCameraId == 0) discoveryBlock.nextCameraId = 1;
  return discoveryBlock.nextCameraId++;
}

void registerNewCameras() {
  for (int i = 0; i < kMaxCameras; ++i) {
    DeviceSlot& slot = discoveryBlock.slots[i];
    CameraRecord& record = discoveryBlock.records[i];
    if (!slot.path[0] || record.id != 0) continue;
    bool busy = false;
    HANDLE device = openDevice(slot.path, &busy);
    if (busy) ++libraryBlock.busyDevices;
    const bool answered = device && requestDriverInfo(device, discoveryBlock.driverInfo, libraryBlock.osVersion) &&
                          requestCameraInfo(device, record);
    closeDevice(device);
    if (!answered) {
      dropCamera(i);
      continue;
    }
    record.id = takeNextCameraId();
    record.inUse = 0;
    ++discoveryBlock.cameraCount;
    // The cached parameters of the index belonged to an earlier camera: the new one must receive
    // every setting, so nothing may count as already sent.
    releaseFrameResources(libraryBlock.settings[i]);
    libraryBlock.settings[i] = CameraSettings{};
  }
}

void scanDevices() {
  const OSVERSIONINFOA& os = libraryBlock.osVersion;
  const DiscoveryMethods methods = discoveryMethodsFor(os.dwPlatformId, os.dwMajorVersion, os.dwMinorVersion);
  int found = 0;
  if (methods.fixedPaths) found = scanFixedPaths();
  if (methods.interfaceClass && found == 0) scanInterfaceClass();
  registerNewCameras();
}

void initialiseTable() {
  const std::int32_t nextId = discoveryBlock.nextCameraId;
  std::memset(&discoveryBlock, 0, sizeof discoveryBlock);
  discoveryBlock.nextCameraId = nextId;
  discoveryBlock.marker = kTableInitialised;
}

}  // namespace

DiscoveryBlock& discovery() { return discoveryBlock; }
LibraryBlock& library() { return libraryBlock; }

CameraSettings* currentSettings() {
  const int index = libraryBlock.currentIndex;
  return index >= 0 && index < kMaxCameras ? &libraryBlock.settings[index] : nullptr;
}

HANDLE currentDevice() {
  const int index = libraryBlock.currentIndex;
  return index >= 0 && index < kMaxCameras ? discoveryBlock.slots[index].device : nullptr;
}

bool tableInitialised() { return discoveryBlock.marker == kTableInitialised; }

void refreshCameraTable() {
  if (!tableInitialised()) initialiseTable();
  libraryBlock.osVersion = OSVERSIONINFOA{};
  libraryBlock.osVersion.dwOSVersionInfoSize = sizeof libraryBlock.osVersion;
  GetVersionExA(&libraryBlock.osVersion);

  libraryBlock.busyDevices = 0;
  for (int i = 0; i < kMaxCameras; ++i) discoveryBlock.slots[i].stale = discoveryBlock.records[i].id != 0;
  scanDevices();
  const std::int32_t countAfterScan = discoveryBlock.cameraCount;
  bool cleared = false;
  for (int i = 0; i < kMaxCameras; ++i) {
    if (!discoveryBlock.slots[i].stale) continue;
    dropCamera(i);
    cleared = true;
  }
  // A full table may have left devices out; one of them can take the slot just freed.
  if (cleared && countAfterScan == kMaxCameras) {
    libraryBlock.busyDevices = 0;
    scanDevices();
  }
}

bool acquireCamera(std::int32_t cameraId) {
  if (!tableInitialised() || libraryBlock.currentIndex != kNoCamera || cameraId == 0) return false;
  int index = -1;
  for (int i = 0; i < kMaxCameras && index < 0; ++i) {
    if (discoveryBlock.records[i].id == cameraId) index = i;
  }
  if (index < 0 || discoveryBlock.records[index].inUse) return false;
  DeviceSlot& slot = discoveryBlock.slots[index];
  // Every camera is opened, whatever its bus: the open is what makes the hold exclusive.
  slot.device = openDevice(slot.path);
  if (!slot.device || !requestCameraInfo(slot.device, discoveryBlock.records[index])) {
    dropCamera(index);
    return false;
  }
  slot.infoValid = 1;
  discoveryBlock.records[index].inUse = 1;
  libraryBlock.currentIndex = index;
  slot.mutex = CreateMutexA(nullptr, FALSE, kCameraMutexName);
  return true;
}

void releaseCamera() {
  const int index = libraryBlock.currentIndex;
  if (index == kNoCamera) return;
  DeviceSlot& slot = discoveryBlock.slots[index];
  CameraRecord& record = discoveryBlock.records[index];
  if (record.inUse) {
    closeDevice(slot.device);
    record.inUse = 0;
  }
  if (slot.mutex) CloseHandle(slot.mutex);
  slot.mutex = nullptr;
  libraryBlock.currentIndex = kNoCamera;
}

std::int32_t firstFreeCameraId() {
  for (std::int32_t bus :
       {static_cast<std::int32_t>(camwire::kBusUsb), static_cast<std::int32_t>(camwire::kBusParallel)}) {
    for (const CameraRecord& record : discoveryBlock.records) {
      if (record.id != 0 && !record.inUse && record.busType == bus) return record.id;
    }
  }
  return 0;
}

void fillCameraList(CameraListInfo& list) {
  std::memset(&list, 0, sizeof list);
  list.reservedCount = discoveryBlock.reservedCount;
  list.cameraCount = static_cast<DWORD>(discoveryBlock.cameraCount);
  std::memcpy(list.reserved, discoveryBlock.reserved, sizeof list.reserved);
  list.driverInfo.size = discoveryBlock.driverInfo.alwaysZero;
  list.driverInfo.driverType = discoveryBlock.driverInfo.driverType;
  std::memcpy(list.driverInfo.version, discoveryBlock.driverInfo.version, sizeof list.driverInfo.version);
  int entry = 0;
  for (int i = 0; i < kMaxCameras; ++i) {
    const CameraRecord& record = discoveryBlock.records[i];
    if (record.id == 0) continue;
    QRCameraListEntry& out = list.cameras[entry++];
    static_assert(offsetof(QRCameraListEntry, path) == sizeof(CameraRecord), "entry = record, then path");
    std::memcpy(&out, &record, sizeof record);
    listPathField(discoveryBlock.slots[i].path, out.path);
  }
}

}  // namespace camlib
