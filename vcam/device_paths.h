// The names under which the virtual cameras can be opened.
#pragma once
#include <cstdint>
#include <string>

namespace vcam {

// "\\.\QRVIDDEV0" ... "\\.\QRVIDDEVF" (any letter case) -> 0-15, anything else -> -1.
int fixedPathIndex(const char* path);

// A device-interface path names the plug generation too, as a PnP instance path would, so a camera
// plugged into the same position again is a new device.
std::string interfacePath(int index, std::uint32_t generation);
bool parseInterfacePath(const char* path, int& index, std::uint32_t& generation);

}  // namespace vcam
