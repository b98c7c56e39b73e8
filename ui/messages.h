// Message boxes of a front end: its fixed caption, and a beep before the box only when the front
// end's sounds are on.
#pragma once
#include <windows.h>

#include <functional>
#include <string>

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

// printf-style formatting into a std::string, for message texts with "%s" and "%1d".
std::string format(const char* pattern, ...);

}  // namespace ui
