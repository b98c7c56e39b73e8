// The picture dialogs: resizing, brightness, colour adjustment and the delayed timer. Each is a
// modal dialog from its named template; the caller reads the choice after OK.
#pragma once
#include <windows.h>

#include "dialog.h"
#include "image_dialog_ids.h"

namespace viewer {

// The sizes a picture of `width` x `height` may be resized to, with or without its aspect kept.
struct ResizeRanges {
  LONG minWidth, maxWidth, minHeight, maxHeight;
  float heightPerWidth;  // height / width
};
ResizeRanges resizeRanges(LONG width, LONG height, bool keepAspect);
constexpr LONG kMinResizeWidth = 16, kMinResizeHeight = 12, kMaxResizeWidth = 2560, kMaxResizeHeight = 1920;

class Resize : public ui::Dialog {
 public:
  Resize(HINSTANCE resources, LONG width, LONG height, bool keepAspect);
  LONG width, height;
  bool keepAspect;
  bool aspectToggled = false;  // the check box was clicked: the configuration changed

 protected:
  bool onInit() override;
  bool onCommand(int id, int code, HWND control) override;
  INT_PTR onMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) override;

 private:
  void applyRanges();
  void show();
  ResizeRanges ranges_ = {};
};

class Brighten : public ui::Dialog {
 public:
  explicit Brighten(HINSTANCE resources) : ui::Dialog(resources, "Brighten") {}
  LONG value = 0;  // -100 .. 100; 0 after Cancel

 protected:
  bool onInit() override;
  bool onCommand(int id, int code, HWND control) override;
  INT_PTR onMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) override;
};

class Adjcolor : public ui::Dialog {
 public:
  explicit Adjcolor(HINSTANCE resources) : ui::Dialog(resources, "Adjcolor") {}
  LONG red = 100, green = 100, blue = 100;  // percentages; all 100 after Cancel

 protected:
  bool onInit() override;
  bool onCommand(int id, int code, HWND control) override;
  INT_PTR onMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) override;
};

class DlydTmr : public ui::Dialog {
 public:
  DlydTmr(HINSTANCE resources, LONG seconds, bool preview, bool previewSelectable)
      : ui::Dialog(resources, "DlydTmr"), seconds(seconds), preview(preview), selectable_(previewSelectable) {}
  LONG seconds;  // 5 .. 100
  bool preview;

 protected:
  bool onInit() override;
  bool onCommand(int id, int code, HWND control) override;
  INT_PTR onMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled) override;

 private:
  bool selectable_;
};

}  // namespace viewer
