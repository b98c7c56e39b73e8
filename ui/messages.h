// Message boxes of a front end: its fixed caption, and a beep before the box only when the front
// end's sounds are on.
#pragma once
#include <windows.h>

#include <cstdio>  // __MINGW_PRINTF_FORMAT: the printf family of std::vsnprintf in this build
#include <functional>
#include <string>

// Lets the compiler check a printf-style call's arguments against its pattern, by the rules of
// the printf family that formats them (mingw-w64's own, or the C library's).
#if defined(__MINGW_PRINTF_FORMAT)
#define UI_PRINTF_CHECKED(pattern, first) __attribute__((format(__MINGW_PRINTF_FORMAT, pattern, first)))
#elif defined(__GNUC__)
#define UI_PRINTF_CHECKED(pattern, first) __attribute__((format(printf, pattern, first)))
#else
#define UI_PRINTF_CHECKED(pattern, first)
#endif

namespace ui {

class Messages {
 public:
  // `soundsOn` is asked at every box; without it the boxes never beep. `beep` makes the sound
  // (MessageBeep with the box's icon type unless given).
  explicit Messages(std::string caption, std::function<bool()> soundsOn = {}, std::function<void(UINT)> beep = {})
      : caption_(std::move(caption)), soundsOn_(std::move(soundsOn)), beep_(std::move(beep)) {}

  const std::string& caption() const { return caption_; }
  // Shows `text` under the front end's caption; returns MessageBox's answer.
  int show(HWND owner, const std::string& text, UINT style) const { return show(owner, text, style, caption_); }
  // The same under another caption (dialogs with captions of their own).
  int show(HWND owner, const std::string& text, UINT style, const std::string& caption) const;
  bool soundsOn() const { return soundsOn_ && soundsOn_(); }

 private:
  std::string caption_;
  std::function<bool()> soundsOn_;
  std::function<void(UINT)> beep_;
};

// printf-style formatting into a std::string, for message texts with "%s" and "%1d"; the
// compiler checks the arguments.
std::string format(const char* pattern, ...) UI_PRINTF_CHECKED(1, 2);

}  // namespace ui
