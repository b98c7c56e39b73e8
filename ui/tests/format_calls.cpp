// Calls of ui::format for the compile-time check (check_format.cmake): with WRONG_CALL 0 only
// right calls, which must compile without a warning; each other case one wrong call, which the
// compiler must refuse.
#include <string>

#include "messages.h"

void calls(const std::string& name, long slot, unsigned long long size) {
#if WRONG_CALL == 0
  ui::format("%1d - %s", static_cast<int>(slot), name.c_str());
  ui::format("%ld bytes of %llu, %zu", slot, size, name.size());
  ui::format("100%%");
#elif WRONG_CALL == 1
  ui::format("%s", slot);  // a number for a text
#elif WRONG_CALL == 2
  ui::format("%1d - %s", name.c_str(), static_cast<int>(slot));  // swapped
#elif WRONG_CALL == 3
  ui::format("Load \"%s\" configuration?");  // missing argument
#elif WRONG_CALL == 4
  ui::format("%d", size);  // 64 bits for an int
#elif WRONG_CALL == 5
  ui::format("%s", name);  // a std::string through the ellipsis
#endif
}
