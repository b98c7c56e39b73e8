#include "fileio.h"

#include <cstdio>
#include <string>

#include "../core/image.h"

namespace vic {

int readWholeFile(const char* name, std::vector<uint8_t>& bytes) {
  if (!name) return kCannotOpen;
  std::FILE* file = std::fopen(name, "rb");
  if (!file) return kCannotOpen;
  bytes.clear();
  uint8_t chunk[65536];
  std::size_t got;
  bool ok = true;
  try {
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes.insert(bytes.end(), chunk, chunk + got);
  } catch (...) {
    ok = false;
  }
  if (std::ferror(file)) ok = false;
  std::fclose(file);
  if (!ok) {
    bytes.clear();
    return kCannotOpen;
  }
  return kOk;
}

namespace {

bool fileExists(const std::string& name) {
  std::FILE* file = std::fopen(name.c_str(), "rb");
  if (!file) return false;
  std::fclose(file);
  return true;
}

// A name beside the target that no file has yet.
std::string temporaryNameFor(const char* name) {
  static unsigned counter = 0;
  for (int attempt = 0; attempt < 1000; ++attempt) {
    std::string candidate = std::string(name) + ".~" + std::to_string(++counter) + ".tmp";
    if (!fileExists(candidate)) return candidate;
  }
  return std::string(name) + ".~tmp";
}

}  // namespace

int writeFileSafely(const char* name, const std::vector<uint8_t>& bytes) {
  if (!name || !*name) return kCannotCreate;
  std::string temporary = temporaryNameFor(name);
  std::FILE* file = std::fopen(temporary.c_str(), "wb");
  if (!file) return kCannotCreate;
  bool written = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  written = std::fflush(file) == 0 && written;
  written = std::fclose(file) == 0 && written;
  if (!written) {
    std::remove(temporary.c_str());
    return kDiskFull;
  }
  if (!replaceFile(temporary.c_str(), name)) {
    std::remove(temporary.c_str());
    return kCannotCreate;
  }
  return kOk;
}

}  // namespace vic
