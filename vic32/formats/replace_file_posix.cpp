// POSIX rename replaces the target atomically.
#include <cstdio>

#include "fileio.h"

namespace vic {

bool replaceFile(const char* from, const char* to) { return std::rename(from, to) == 0; }

}  // namespace vic
