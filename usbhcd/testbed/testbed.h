// The user-mode kernel test bed: loads the real usbhcd.sys into this process, binds its kernel and
// HAL imports to a simulated NT 4.0 kernel and HAL, and puts it on a simulated machine.
//
// One Testbed at a time (the simulation's routines reach it through one current instance). The
// interface is free of kernel headers: device objects and IRP fields are plain values here.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "hardware.h"

namespace hcsim {

struct SimState;

// Status codes the tests name.
constexpr uint32_t kSuccess = 0x00000000;
constexpr uint32_t kUnsuccessful = 0xC0000001;
constexpr uint32_t kNotImplemented = 0xC0000002;
constexpr uint32_t kInvalidParameter = 0xC000000D;
constexpr uint32_t kNoSuchDevice = 0xC000000E;
constexpr uint32_t kInvalidDeviceRequest = 0xC0000010;
constexpr uint32_t kNoMemory = 0xC0000017;
constexpr uint32_t kBufferTooSmall = 0xC0000023;
constexpr uint32_t kResourceTypeNotFound = 0xC0000089;
constexpr uint32_t kInsufficientResources = 0xC000009A;
constexpr uint32_t kAdapterHardwareError = 0xC00000C2;

// A registry value as the simulation keeps it.
struct RegistryValue {
  uint32_t type = 0;
  std::vector<uint8_t> data;
};

// One device object the driver created.
struct DeviceInfo {
  void *object;  // the DEVICE_OBJECT
  std::wstring name;
  uint32_t type;
  uint32_t flags;
  bool exclusive;
  size_t extensionSize;
};

// A connected interrupt.
struct InterruptInfo {
  uint32_t vector;
  uint8_t irql;
  uint8_t synchronizeIrql;
  bool shared;
  bool latched;
};

// What the driver still holds; all zero after a clean unload.
struct Holdings {
  size_t poolBlocks = 0;
  size_t commonBuffers = 0;
  size_t mappings = 0;
  size_t resourceClaims = 0;
  size_t interrupts = 0;
  size_t shutdownRegistrations = 0;
  size_t registryHandles = 0;
  size_t devices = 0;
  size_t lookasideLists = 0;
  size_t timersSet = 0;
  size_t dpcsQueued = 0;
  bool operator==(const Holdings &o) const;
};
std::string describe(const Holdings &h);

// A request the driver may keep pending: its IRP lives as long as this object.
class Request {
 public:
  Request();
  ~Request();
  uint32_t returned = 0;  // what the dispatch routine answered
  bool done() const;      // completed (IoCompleteRequest) by now
  uint32_t status() const;
  uintptr_t information() const;

 private:
  friend class Testbed;
  struct Irp;
  std::unique_ptr<Irp> irp_;
};

class Testbed {
 public:
  // The service key the driver is started with, below HKLM.
  static constexpr const wchar_t *kServiceKey = L"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\usbhcd";

  Testbed();
  ~Testbed();
  Testbed(const Testbed &) = delete;
  Testbed &operator=(const Testbed &) = delete;

  Machine machine;

  // Registry, by paths below the service key ("" is the key itself, "Parameters\\UsbHc0" ...).
  void setValue(const std::wstring &key, const std::wstring &name, uint32_t type, const std::vector<uint8_t> &data);
  void setDword(const std::wstring &key, const std::wstring &name, uint32_t value);
  void createKey(const std::wstring &key);
  bool keyExists(const std::wstring &key) const;
  std::optional<RegistryValue> value(const std::wstring &key, const std::wstring &name) const;
  std::optional<uint32_t> dword(const std::wstring &key, const std::wstring &name) const;
  std::optional<std::wstring> text(const std::wstring &key, const std::wstring &name) const;

  // The driver. load() maps usbhcd.sys (beside the test program) and calls DriverEntry.
  uint32_t load();
  const std::vector<std::string> &unresolvedImports() const;
  void *driverExport(const std::string &name) const;
  void unload();  // calls the driver's unload routine
  bool loaded() const;

  // Devices and requests.
  std::vector<DeviceInfo> devices() const;
  void *device(const std::wstring &name) const;  // null when there is none of that name
  // An internal device-control request. Its arguments share the stack location's parameter block
  // with the code (argument 3's place) and the output length (argument 1's place), as in NT.
  uint32_t internalControl(void *device, uint32_t code, void *argument1 = nullptr, uintptr_t argument2 = 0,
                           uintptr_t argument4 = 0, void *systemBuffer = nullptr, uint32_t outputLength = 0,
                           uintptr_t *information = nullptr);
  // A URB (internal request 0x220003) that may stay pending; time passes with advance().
  std::unique_ptr<Request> submitUrb(void *device, void *urb);
  uint32_t majorRequest(void *device, uint8_t major, uint8_t minor = 0);  // create, close, shutdown, PnP
  uint32_t registerCallback();                         // the upper driver registers its callback: discovery runs
  const std::vector<void *> &callbackDevices() const;  // the callback's calls, in order
  void systemShutdown();  // every device registered for shutdown notification gets its request

  void runWorkItems();  // the system worker threads take their queued items, at passive level

  // Time and interrupts.
  uint64_t now() const;                         // simulated microseconds since the test bed started
  const std::vector<uint64_t> &delays() const;  // every KeDelayExecutionThread, in microseconds
  void advance(uint64_t microseconds);          // timers fire, deferred procedures run
  std::vector<InterruptInfo> interrupts() const;
  // The interrupt line of a vector is asserted: every routine connected to it runs at its IRQL
  // under its spin lock, as the kernel's dispatcher would. Answers whether one claimed it.
  bool raiseInterrupt(uint32_t vector);

  // Faults of the kernel and HAL to put the driver to the test.
  int failPoolAfter = -1;                  // allocations left before every further one fails (-1: never)
  int failCommonBufferAfter = -1;          // likewise for common buffers
  bool noAdapter = false;                  // HalGetAdapter answers null
  bool failMapping = false;                // MmMapIoSpace answers null
  bool failTranslation = false;            // HalTranslateBusAddress answers FALSE
  bool refuseExclusiveInterrupts = false;  // IoConnectInterrupt refuses unshared ones with 0xC000000D

  // Accounting.
  Holdings holdings() const;
  std::map<std::string, size_t> poolByTag() const;
  // A block the driver allocated (and left to its caller, as the USBD request builders do).
  struct PoolBlockInfo {
    size_t size;
    std::string tag;
  };
  std::optional<PoolBlockInfo> poolBlock(const void *block) const;
  void freePool(void *block);  // ExFreePool on the caller's behalf
  const std::vector<std::string> &debugPrints() const;
  const std::vector<std::string> &errors() const;  // misuse the simulation caught
  struct AdapterRequest {
    bool master, scatterGather, dma32, dma64;
    uint32_t maximumLength, busNumber, interfaceType;
  };
  const std::vector<AdapterRequest> &adapterRequests() const;
  struct CommonBufferInfo {
    uint8_t *memory;
    uint64_t physical;
    uint32_t length;
  };
  std::vector<CommonBufferInfo> commonBuffers() const;  // in order of allocation

 private:
  std::unique_ptr<SimState> state_;
};

// Builds the UTF-16 bytes of a REG_DWORD.
std::vector<uint8_t> dwordBytes(uint32_t value);

}  // namespace hcsim
