// Answers the message boxes and modal dialogs that code under test opens, on any thread of the
// process (a capture driver raises its boxes on its client's threads and on its timer's thread).
//
// A process-wide event hook sees each dialog (message boxes are dialogs too) being created, on
// the thread that creates it, and gives that thread (once) a hook that sees the dialog right after
// its WM_INITDIALOG. There the answerer records the caption, the message text and the buttons,
// optionally types text into an edit field, and posts the click of the planned button, which the
// box's own modal loop then carries out. Nothing waits or polls: the answer is made on the box's
// own thread while the box is made, so the test's thread may wait without pumping messages.
// Answers are used in the order planned; a box with no plan left is answered with its default
// button and counted as unexpected, and a plan whose button the box lacks fails the test.
// Modeless dialogs are dialogs too: open the one under test before making the answerer, and drive
// it with SendMessage (each nested box is answered before SendMessage returns), or name the
// modeless dialogs that the code under test opens by their captions with `leaveAlone`.
// One answerer per process at a time. Read `seen` once the code that raised the boxes has
// returned (for another thread: once it has said so, or ended).
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
  DWORD thread = 0;  // the thread that raised it
};

class ModalAnswerer {
 public:
  ModalAnswerer();
  ~ModalAnswerer();
  ModalAnswerer(const ModalAnswerer&) = delete;
  ModalAnswerer& operator=(const ModalAnswerer&) = delete;

  void plan(int button) { planText(0, {}, button); }
  void planText(int editId, const std::string& text, int button);
  // Dialogs with this caption (as their WM_INITDIALOG leaves it) are neither answered nor seen:
  // modeless windows that the code under test opens and the test drives.
  void leaveAlone(const std::string& caption);

  const std::vector<SeenModal>& seen() const { return seen_; }
  std::size_t unexpected() const;
  std::size_t plansLeft() const;
  void clear();

 private:
  // A thread that has been given the WM_INITDIALOG hook; the handle tells it from a later thread
  // that gets the same id once it has ended (its hooks end with it).
  struct WatchedThread {
    DWORD id;
    HANDLE handle;
    HHOOK hook;
  };

  static void CALLBACK windowCreated(HWINEVENTHOOK, DWORD event, HWND hwnd, LONG object, LONG child, DWORD, DWORD);
  static LRESULT CALLBACK hookProc(int code, WPARAM wParam, LPARAM lParam);
  void watchThisThread();
  void answer(HWND dialog);

  HWINEVENTHOOK creationHook_ = nullptr;
  std::vector<WatchedThread> threads_;
  std::deque<ModalAnswer> plans_;
  std::vector<SeenModal> seen_;
  std::vector<std::string> leftAlone_;
};

}  // namespace qrtest
