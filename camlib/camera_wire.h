// The wire format between qrcamlib and the camera's kernel-mode driver: four device I/O-control
// requests with fixed little-endian layouts. The virtual camera (vcam/) answers the same layouts,
// so both sides share this header. No Win32 types: the layouts are plain 32-bit words, except the
// buffer addresses, which are pointer-sized (32-bit on the 32-bit Windows the driver serves; the
// 64-bit test build keeps its pointers whole).
#pragma once
#include <cstdint>

namespace camwire {

// CTL_CODE(FILE_DEVICE_UNKNOWN = 0x22, function, METHOD_BUFFERED, FILE_ANY_ACCESS)
constexpr std::uint32_t controlCode(std::uint32_t function) { return (0x22u << 16) | (function << 2); }

constexpr std::uint32_t kGetInfo = controlCode(0x801);        // 0x222004
constexpr std::uint32_t kVendorRequest = controlCode(0x802);  // 0x222008
constexpr std::uint32_t kReadFrame = controlCode(0x803);      // 0x22200C
constexpr std::uint32_t kGetDriverInfo = controlCode(0x807);  // 0x22201C
static_assert(kGetInfo == 0x222004 && kVendorRequest == 0x222008 && kReadFrame == 0x22200C &&
                  kGetDriverInfo == 0x22201C,
              "control codes");

constexpr std::uint32_t kStatusOk = 0;
constexpr std::uint32_t kStatusGone = 18;

// The device identifier that the driver reports (kGetInfo) for the Sentrio V2 camera head; every
// other identifier is an earlier Quorel III head.
constexpr std::uint32_t SentrioV2DeviceId = 0x5632;  // "V2"

constexpr std::uint32_t kBusParallel = 1;
constexpr std::uint32_t kBusUsb = 2;

constexpr int kTextSize = 128;

// The address of a buffer in the caller's address space.
using Address = std::uintptr_t;
constexpr bool kWireIs32Bit = sizeof(Address) == 4;

// kGetInfo: input one word (0), output this record.
struct CameraInfoReply {
  std::uint32_t status;
  std::uint32_t busType;
  std::uint32_t infoWord1;
  std::uint32_t deviceId;
  std::uint32_t portMode;  // the reply stores the port mode before number and address
  std::uint32_t portNumber;
  std::uint32_t portAddress;
  std::uint32_t infoWord2;
  char text1[kTextSize];
  char text2[kTextSize];
  char serial[kTextSize];
};
static_assert(sizeof(CameraInfoReply) == 416, "camera info reply");

constexpr std::uint32_t kHostToCamera = 0;
constexpr std::uint32_t kCameraToHost = 1;
constexpr std::uint32_t kWriteRegister = 0x60;
constexpr std::uint32_t kReadRegister = 0x61;
constexpr std::uint32_t kTableSize = 256;  // data stage of the two table registers

// kVendorRequest: input this record (one control transfer), output one word that nobody reads.
// The buffer address is a pointer in the caller's address space.
struct VendorRequest {
  std::uint32_t direction;
  std::uint32_t request;
  std::uint32_t value;
  std::uint32_t index;   // the register number
  std::uint32_t length;  // of the data stage
  Address buffer;        // address of the data stage, or 0
};
static_assert(!kWireIs32Bit || sizeof(VendorRequest) == 24, "vendor request");

// kReadFrame: input the caller's buffer, output status and the frame's length.
struct FrameRequest {
  std::uint32_t length;
  Address buffer;
};
struct FrameReply {
  std::uint32_t status;
  std::uint32_t bytesStored;
};
static_assert((!kWireIs32Bit || sizeof(FrameRequest) == 8) && sizeof(FrameReply) == 8, "frame request");

// kGetDriverInfo: input the running Windows version, output the driver's kind and version.
struct DriverInfoRequest {
  std::uint32_t platformId;
  std::uint32_t majorVersion;
  std::uint32_t minorVersion;
};
struct DriverInfoReply {
  std::uint32_t status;
  std::uint32_t driverType;
  std::uint32_t version[4];
};
static_assert(sizeof(DriverInfoRequest) == 12 && sizeof(DriverInfoReply) == 24, "driver info");

// Device paths and the device-interface class.
constexpr const char kFixedPathTemplate[] = "\\\\.\\QRVIDDEV0";  // last character: 0-F
constexpr int kMaxCameras = 16;
// {5689CE5B-2D63-4615-B0DE-AE4DB7D80CB5}
struct ClassGuid {
  std::uint32_t data1;
  std::uint16_t data2, data3;
  std::uint8_t data4[8];
};
constexpr ClassGuid kInterfaceClass = {0x5689CE5B, 0x2D63, 0x4615, {0xB0, 0xDE, 0xAE, 0x4D, 0xB7, 0xD8, 0x0C, 0xB5}};

}  // namespace camwire
