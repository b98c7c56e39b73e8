// Answers the message boxes and modal dialogs that code under test opens on this thread.
//
// A thread hook sees every dialog (message boxes are dialogs too) right after its WM_INITDIALOG,
// records its caption, its message text and its buttons, optionally types text into an edit
// field, and posts the click of the planned button, which the box's own modal loop then carries
// out. Answers are used in the order planned; a box with no plan left is answered with its
// default button and counted as unexpected, and a plan whose button the box lacks fails the test.
// Modeless dialogs are dialogs too: open the one under test before making the answerer, and drive
// it with SendMessage (each nested box is answered before SendMessage returns).
#pragma once
#include <windows.h>

#include <deque>
#include <string>
#include <vector>

namespace qrtest {

struct ModalAnswer {
  int button;      // the control id to click (IDOK, IDYES, IDNO, IDCANCEL, ...)
  int editId = 0;  // when non-zero, this edit control gets `editText` first
  std::string editText;
};

struct SeenModal {
  std::string caption;
  std::string text;          // a message box's text (empty for other dialogs)
  std::vector<int> buttons;  // the standard buttons present (IDOK ... IDNO), in id order
  bool hasIcon = false;      // a message box showed an icon
  int pressed = 0;           // the button that was clicked
  bool planned = true;
};

class ModalAnswerer {
 public:
  ModalAnswerer();
  ~ModalAnswerer();
  ModalAnswerer(const ModalAnswerer&) = delete;
  ModalAnswerer& operator=(const ModalAnswerer&) = delete;

  void plan(int button) { plans_.push_back({button, 0, {}}); }
  void planText(int editId, const std::string& text, int button) { plans_.push_back({button, editId, text}); }

  const std::vector<SeenModal>& seen() const { return seen_; }
  std::size_t unexpected() const;
  std::size_t plansLeft() const { return plans_.size(); }
  void clear() {
    seen_.clear();
    plans_.clear();
  }

 private:
  static LRESULT CALLBACK hookProc(int code, WPARAM wParam, LPARAM lParam);
  void answer(HWND dialog);

  HHOOK hook_ = nullptr;
  std::deque<ModalAnswer> plans_;
  std::vector<SeenModal> seen_;
};

}  // namespace qrtest
