// The C library's rename refuses an existing target on Windows; MoveFileEx replaces it.
#include <windows.h>

#include "fileio.h"

namespace vic {

bool replaceFile(const char* from, const char* to) {
  return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED) != 0;
}

}  // namespace vic
