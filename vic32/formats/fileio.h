// Whole-file reading and crash-safe writing for the codecs. Writing goes to a temporary file
// beside the target, which replaces the target only once it is complete, so a failed save
// leaves an existing file as it was.
#pragma once
#include <cstdint>
#include <vector>

namespace vic {

// kOk, or kCannotOpen when the file cannot be opened or read.
int readWholeFile(const char* name, std::vector<uint8_t>& bytes);
// kOk; kCannotCreate when no file can be made there; kDiskFull when writing fails.
int writeFileSafely(const char* name, const std::vector<uint8_t>& bytes);
// Puts `from` in the place of `to`, replacing it in one step. Platform specific.
bool replaceFile(const char* from, const char* to);

}  // namespace vic
