// The test bed's loader of kernel-mode images: maps a .sys file the way the NT kernel does
// (sections at their virtual addresses, base relocations applied) and binds every import by DLL
// and name to a function of the simulation.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace hcsim {

struct LoadedImage {
  void *base = nullptr;
  size_t size = 0;
  void *entry = nullptr;
  std::map<std::string, void *> exports;  // by name
  std::vector<std::string> unresolved;    // "dll!name" of imports the simulation lacks
};

// Answers the address of an import, or null when the simulation has none of that name.
using ImportResolver = std::function<void *(const std::string &dll, const std::string &name)>;

// Loads the image; false with a reason in error when the file is not an image of this process's
// word size. Unresolved imports are bound to a trap and listed, not refused, so that a test can
// name every missing one at once.
bool loadImage(const std::wstring &path, const ImportResolver &resolve, void *unresolvedTrap, LoadedImage &image,
               std::string &error);
void unloadImage(LoadedImage &image);

// Address space that faults on any access: what the simulated MmMapIoSpace hands out, so that a
// driver touching device registers other than through the accessors crashes the test.
void *reserveAddressSpace(size_t size);
void releaseAddressSpace(void *address);

// The folder of the running test program (where build/bin keeps the driver too).
std::wstring programFolder();

}  // namespace hcsim
