#include "messages.h"

#include <cstdarg>
#include <cstdio>
#include <vector>

namespace ui {

int Messages::show(HWND owner, const std::string& text, UINT style, const std::string& caption) const {
  if (soundsOn()) {
    if (beep_)
      beep_(style & MB_ICONMASK);
    else
      MessageBeep(style & MB_ICONMASK);
  }
  return MessageBoxA(owner, text.c_str(), caption.c_str(), style);
}

std::string format(const char* pattern, ...) {
  va_list args;
  va_start(args, pattern);
  va_list copy;
  va_copy(copy, args);
  int length = std::vsnprintf(nullptr, 0, pattern, copy);
  va_end(copy);
  std::string text;
  if (length > 0) {
    std::vector<char> buffer(length + 1);
    std::vsnprintf(buffer.data(), buffer.size(), pattern, args);
    text.assign(buffer.data(), length);
  }
  va_end(args);
  return text;
}

}  // namespace ui
