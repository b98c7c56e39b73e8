// The C library's rename refuses an existing target on Windows; compat::replaceFile replaces it on
// NT and on Windows 95/98 alike.
#include "fileio.h"
#include "replace_file.h"

namespace vic {

bool replaceFile(const char* from, const char* to) { return compat::replaceFile(from, to); }

}  // namespace vic
