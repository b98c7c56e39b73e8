// Dialog base class: one dialog template, run modal or modeless.
//
// The same object works both ways: `runModal` blocks until `end` is called; `createModeless`
// returns at once and the dialog lives until `end` (or its owner's destruction). A modeless dialog
// created as a child (WS_CHILD in its template) is the client of a frame: `end` then closes the
// frame. Modeless dialogs get keyboard navigation from `Application::run`.
#pragma once
#include <windows.h>

#include "window.h"

namespace ui {

class Dialog : public WindowBase {
 public:
  Dialog(HINSTANCE resources, int templateId) : resources_(resources), template_(MAKEINTRESOURCEA(templateId)) {}
  // A template known by its name.
  Dialog(HINSTANCE resources, const char* templateName) : resources_(resources), template_(templateName) {}
  Dialog(const Dialog&) = delete;
  Dialog& operator=(const Dialog&) = delete;
  ~Dialog() override;

  // Runs the dialog modally; returns the value given to `end`, or -1 when it could not be made.
  INT_PTR runModal(HWND parent);
  // Creates the dialog modeless and shows it; returns its window, or null.
  HWND createModeless(HWND parent);
  bool isModal() const { return modal_; }
  // The value given to `end` (0 while the dialog is open).
  INT_PTR result() const { return result_; }

 protected:
  // WM_INITDIALOG; return true to let the system set the focus.
  virtual bool onInit() { return true; }
  // WM_COMMAND; return true when handled. The default ends the dialog on IDOK and IDCANCEL.
  virtual bool onCommand(int id, int code, HWND control);
  // Any other message; set `handled` to stop default dialog processing, and return the message's
  // answer (a brush for WM_CTLCOLOR..., the LRESULT of any other message): the dialog hands it on
  // as the message requires.
  virtual INT_PTR onMessage(UINT message, WPARAM wParam, LPARAM lParam, bool& handled);
  // Closes the dialog with `result`.
  void end(INT_PTR result);

  HWND item(int id) const { return GetDlgItem(hwnd_, id); }
  HINSTANCE resources() const { return resources_; }

 private:
  static INT_PTR CALLBACK dialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  INT_PTR dispatch(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

  HINSTANCE resources_;
  LPCSTR template_;
  bool modal_ = false;
  INT_PTR result_ = 0;
};

// Modeless dialogs of this thread, for the message loop's IsDialogMessage.
bool dispatchToModelessDialog(MSG& msg);

}  // namespace ui
