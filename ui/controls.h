// Thin helpers over the standard controls of a dialog, addressed by the dialog and control id.
#pragma once
#include <windows.h>

#include <string>

namespace ui {

// The text of any window or control.
std::string windowText(HWND hwnd);

class Control {
 public:
  Control(HWND dialog, int id) : hwnd_(GetDlgItem(dialog, id)) {}
  HWND handle() const { return hwnd_; }
  void enable(bool enabled) const { EnableWindow(hwnd_, enabled); }
  std::string text() const { return windowText(hwnd_); }
  void setText(const std::string& text) const { SetWindowTextA(hwnd_, text.c_str()); }

 protected:
  LRESULT send(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const {
    return SendMessageA(hwnd_, message, wParam, lParam);
  }
  HWND hwnd_;
};

// A scroll-bar control: range, page and thumb position.
class ScrollBar : public Control {
 public:
  using Control::Control;
  void setRange(int minimum, int maximum, int page) const;
  void setPosition(int position) const { SetScrollPos(hwnd_, SB_CTL, position, TRUE); }
  int position() const { return GetScrollPos(hwnd_, SB_CTL); }
  // The position a WM_HSCROLL/WM_VSCROLL request asks for (line 1, page `page`, the thumb's full
  // 32-bit position while it is dragged), clamped to the range; the caller sets it when it
  // accepts it.
  int requestedPosition(WPARAM request) const;
};

class CheckBox : public Control {
 public:
  using Control::Control;
  bool checked() const { return send(BM_GETCHECK) == BST_CHECKED; }
  void setChecked(bool checked) const { send(BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED); }
};

class EditField : public Control {
 public:
  using Control::Control;
  void setLimit(int characters) const { send(EM_LIMITTEXT, characters); }
};

// List box and combo box share one interface; the messages differ.
class ListBox : public Control {
 public:
  using Control::Control;
  void clear() const { send(LB_RESETCONTENT); }
  // Adds an entry at the end with `data` attached; returns its position.
  int add(const std::string& text, LPARAM data = 0) const;
  int count() const { return static_cast<int>(send(LB_GETCOUNT)); }
  int selection() const { return static_cast<int>(send(LB_GETCURSEL)); }  // LB_ERR when none
  void select(int position) const { send(LB_SETCURSEL, position); }
  LPARAM data(int position) const { return send(LB_GETITEMDATA, position); }
  std::string entry(int position) const;
};

class ComboBox : public Control {
 public:
  using Control::Control;
  void clear() const { send(CB_RESETCONTENT); }
  int add(const std::string& text, LPARAM data = 0) const;
  int count() const { return static_cast<int>(send(CB_GETCOUNT)); }
  int selection() const { return static_cast<int>(send(CB_GETCURSEL)); }  // CB_ERR when none
  void select(int position) const { send(CB_SETCURSEL, position); }
  LPARAM data(int position) const { return send(CB_GETITEMDATA, position); }
  std::string entry(int position) const;
};

}  // namespace ui
