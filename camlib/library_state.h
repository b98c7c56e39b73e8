// The library's process-wide state: the discovery block (the cameras seen) and the library block
// (the acquired camera and the cached parameters of every camera index).
#pragma once
#include <windows.h>

#include <cstdint>

#include "camera_wire.h"
#include "frame_path.h"  // the frame buffer sizes

namespace qrjpeg {
class JpegDecoder;
}

namespace camlib {

constexpr int kMaxCameras = camwire::kMaxCameras;
constexpr int kNoCamera = -1;
constexpr std::uint32_t kTableInitialised = 0xAA3355CC;
constexpr DWORD kCameraMutexTimeoutMs = 3000;
constexpr char kCameraMutexName[] = "QR3IO";

// Field order is the order of a camera-list entry.
struct CameraRecord {
  std::int32_t id;  // 0: free
  std::int32_t inUse;
  std::int32_t busType;
  std::int32_t infoWord1;
  std::int32_t deviceId;
  std::int32_t portNumber;
  std::int32_t portAddress;
  std::int32_t portMode;
  std::int32_t infoWord2;
  char text1[camwire::kTextSize];
  char text2[camwire::kTextSize];
  char serial[camwire::kTextSize];
};
static_assert(sizeof(CameraRecord) == 420, "camera record");

struct DeviceSlot {
  HANDLE device;  // open only while the camera is acquired
  HANDLE mutex;
  std::int32_t infoValid;
  std::int32_t stale;
  char path[256];  // empty: free slot
};

struct DriverInfo {
  std::uint32_t alwaysZero;
  std::uint32_t driverType;
  std::uint32_t version[4];
};

struct DiscoveryBlock {
  std::uint32_t marker;
  std::uint32_t reservedCount;  // never changed; reported in the camera list
  std::int32_t cameraCount;
  std::uint8_t reserved[24];
  DriverInfo driverInfo;
  CameraRecord records[kMaxCameras];
  DeviceSlot slots[kMaxCameras];
  std::int32_t nextCameraId;  // survives initialisation: IDs rise for the life of the process
};

// The cached parameters of one camera index; 32-bit fields in this order.
struct CameraSettings {
  std::int32_t alwaysZero;
  std::int32_t agcMode;
  std::int32_t autoBias;
  std::int32_t awbEnabled;
  std::int32_t blcLevel;
  std::int32_t blueBalance;
  std::int32_t fastGrab;
  std::int32_t outputFormat;
  std::int32_t frameTime;
  std::int32_t gain;
  std::int32_t gamma;
  std::int32_t invert;
  std::int32_t led;
  std::int32_t mirror;
  std::int32_t noiseFilter;
  std::int32_t power;
  std::int32_t mains60Hz;
  std::int32_t quality;
  std::int32_t redBalance;
  std::int32_t resolution;
  std::int32_t chromaSaturation;
  std::int32_t scanFrequency;
  std::int32_t sharpness;
  std::int32_t shutter;
  std::int32_t outputWidth;
  std::int32_t outputHeight;
  std::uint8_t* frameBuffer;  // kFrameBufferBytes, from QRAcquireLib to QRReleaseLib
  std::int32_t frameLength;   // capture width x capture height x 2
  std::int32_t cpuFeature;    // MMX present
  std::int32_t decoderAvailable;
  std::uint8_t* compressedBuffer;  // kCompressedBufferBytes, with the frame buffer
  qrjpeg::JpegDecoder* decoder;
  // Beyond the record above: the capture programming (kPendingCapture... bits) that a resolution
  // or format change stored but could not yet send, for want of the camera mutex.
  std::int32_t pendingCapture;
};

struct LibraryBlock {
  int currentIndex = kNoCamera;
  std::int32_t lastError = 0;
  bool libraryAcquired = false;
  std::int32_t mmxEnabled = 0;
  std::int32_t cpuFeature = 0;
  OSVERSIONINFOA osVersion{};
  // Devices the last refresh found present but held open by another process. They cannot be
  // registered (they cannot be asked who they are), but they make QRAcquireLib report the camera
  // as taken instead of absent.
  int busyDevices = 0;
  CameraSettings settings[kMaxCameras]{};
};

DiscoveryBlock& discovery();
LibraryBlock& library();

// The acquired camera's settings, or null when none is acquired.
CameraSettings* currentSettings();
// The acquired camera's open device handle, or null.
HANDLE currentDevice();

}  // namespace camlib
