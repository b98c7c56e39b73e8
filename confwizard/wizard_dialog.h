// The NetMeeting wizard: the dialog `TWizardDlgClient` (resource 601) as the client of the frame
// "NetMeeting Wizard".
#pragma once
#include <windows.h>

#include "dialog.h"
#include "window.h"

namespace confwizard {

class TWizardDlgClient : public ui::Dialog {
 public:
  // Reads the initial colour value and removes the stale "Quorel..." keys, before any window.
  explicit TWizardDlgClient(HINSTANCE resources);

  LONG initialColours() const { return initial_; }
  LONG chosenColours() const { return chosen_; }
  // The frame is closing: leaving in any other way than OK acts as Close, so the device key that
  // the start removed is always written back.
  bool canClose() override;

 protected:
  bool onInit() override;
  bool onCommand(int id, int code, HWND control) override;

 private:
  void choose(int controlId);
  void writeAndClose(int result);

  LONG initial_;
  LONG chosen_ = 0;
  bool written_ = false;
};

// Makes the frame (no caption, system menu or border of its own, placed at
// ((screen width - 300) / 2, (screen height - 240) / 2)), puts the dialog in it, shrinks the frame
// to the dialog and shows it. False when a window could not be made.
bool openWizard(ui::FrameWindow& frame, TWizardDlgClient& dialog);

}  // namespace confwizard
