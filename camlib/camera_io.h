// The four control requests to the camera's kernel-mode driver, through the device seam.
#pragma once
#include <windows.h>

#include <cstdint>

#include "library_state.h"

namespace camlib {

// Opens a camera device exclusively (share mode 0). Null when it cannot be opened; then *busy
// (if given) tells whether the device is there but held open by another process.
HANDLE openDevice(const char* path, bool* busy = nullptr);
// Closes a device handle (if open) and nulls it.
void closeDevice(HANDLE& device);

// Copies the camera's identity into the record (ID and in-use flag untouched). False unless the
// driver answered status 0.
bool requestCameraInfo(HANDLE device, CameraRecord& record);
// Fills the driver type and version; fails only when the driver answers status 18.
bool requestDriverInfo(HANDLE device, DriverInfo& info, const OSVERSIONINFOA& os);

// Register access never reports failure: the camera either takes the request or it does not.
void writeRegister(HANDLE device, std::uint32_t reg, std::uint32_t value);
void writeRegisterTable(HANDLE device, std::uint32_t reg, const std::uint8_t* table256);
std::uint32_t readRegister(HANDLE device, std::uint32_t reg);

// Asks the driver for one frame of at most `length` bytes into `buffer`; returns the frame's length
// (0 when the request failed or the device is gone; *lost, if given, then tells which: true for a
// camera that did not answer or whose driver said "gone"). Never more than `length`, whatever the
// driver claims.
std::uint32_t requestFrame(HANDLE device, void* buffer, std::uint32_t length, bool* lost = nullptr);

}  // namespace camlib
